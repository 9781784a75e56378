#include "support/EditorFixture.h"

namespace {

class CreateRedirect : public EditorFixture {
protected:
    // The library calls since the editor was opened, without the scan's reads.
    QStringList changes() const
    {
        QStringList list;
        for (const QString& call : vsp.calls().split('\n', Qt::SkipEmptyParts))
            if (!call.startsWith("vsp_getDevice"))
                list << call;
        return list;
    }
    void openProperties(int row)
    {
        selectRow(row);
        trigger("mnuProperties");
    }
};

TEST_F(CreateRedirect, CreationMakesConnectorThenClientStartsEmulationAndLists)
{
    createRedirect("COM1", "10.1.1.1");
    EXPECT_EQ(changes(), (QStringList{"vsp_createDevice Connector 1;0", "vsp_createDevice TcpClient 10.1.1.1;3001;1;19200,0,8,1,0,0;1;0;",
                                      "vsp_startEmulation"}));
    EXPECT_TRUE(fake.messages.shown.isEmpty());  // an empty list asks nothing
    EXPECT_FALSE(editorShown());
    EXPECT_EQ(rows(), QStringList{"COM1|19200,0,8,1,0,0|10.1.1.1|3001|Emulation is OFF"});
    EXPECT_TRUE(window->windowTitle().contains("[Untitled.qlc*] Emulation: Running"));

    createRedirect("COM2");  // COM1 is listed but still free on disk here
    EXPECT_EQ(vsp.calls().count("vsp_startEmulation"), 1);  // already running: left alone
}

TEST_F(CreateRedirect, ATakenPortAsksAndNoKeepsTheEntriesYesOpensTheExistingRedirect)
{
    listRedirect(1, "57600,0,8,1,0,0", "old.host", "5000");
    fake.messages.answers = {msgbox::Answer::No};
    createRedirect("COM1", "new.host");
    ASSERT_EQ(fake.messages.shown.size(), 1);
    EXPECT_EQ(fake.messages.shown[0].text, "COM1 is in use by another redirection.  Would you like to update existing one instead?");
    EXPECT_EQ(fake.messages.shown[0].buttons, msgbox::Buttons::YesNo);
    EXPECT_EQ(fake.messages.shown[0].icon, msgbox::Icon::Question);
    EXPECT_EQ(fake.messages.shown[0].defaultAnswer, msgbox::Answer::Yes);
    EXPECT_FALSE(vsp.calls().contains("vsp_createDevice"));
    EXPECT_EQ(box("txtHostAddress")->text(), "new.host");

    fake.messages.answers = {msgbox::Answer::Yes};
    click("cmdNewRedirect(0)");
    EXPECT_EQ(createButtonText(), "Update");
    EXPECT_EQ(box("txtHostAddress")->text(), "old.host");
    EXPECT_EQ(choice("cmbBaud")->currentText(), "57600");
    EXPECT_TRUE(listRows::isRowSelected(list(), 0));
    EXPECT_FALSE(vsp.calls().contains("vsp_createDevice"));

    fake.messages.shown.clear();
    click("cmdNewRedirect(0)");  // update mode never asks
    EXPECT_TRUE(fake.messages.shown.isEmpty());
}

TEST_F(CreateRedirect, AnUpdateDestroysClientThenConnectorAndCreatesThePairAgain)
{
    listRedirect(5, "9600,0,8,1,0,0");
    openProperties(0);
    vsp.setResult("vsp_startEmulation", 1);
    choice("cmbBaud")->setCurrentText("115200");
    const QString before = vsp.calls();
    click("cmdNewRedirect(0)");
    const QStringList calls = vsp.calls().mid(before.size()).split('\n', Qt::SkipEmptyParts);
    ASSERT_GE(calls.size(), 4);
    EXPECT_EQ(calls.mid(0, 4), (QStringList{"vsp_destroyDevice 1", "vsp_destroyDevice 0", "vsp_createDevice Connector 5;0",
                                            "vsp_createDevice TcpClient 10.0.0.9;4001;5;115200,0,8,1,0,0;1;0;"}));
    EXPECT_EQ(rows(), QStringList{"COM5|115200,0,8,1,0,0|10.0.0.9|4001|Emulation is OFF"});
    EXPECT_TRUE(record(0).startsWith("2"));  // new ids
}

TEST_F(CreateRedirect, RefusedDevicesAreReportedAndAPlainCreationKeepsTheLoneConnector)
{
    trigger("mnuCreate");
    vsp.refuseType("Connector");
    click("cmdNewRedirect(0)");
    EXPECT_EQ(fake.messages.texts(), QStringList{"Error: can not create virtual com port"});
    EXPECT_EQ(fake.messages.shown[0].icon, msgbox::Icon::Critical);
    EXPECT_FALSE(vsp.calls().contains("vsp_createDevice TcpClient"));
    EXPECT_TRUE(editorShown());

    vsp.refuseType("TcpClient");
    click("cmdNewRedirect(0)");
    EXPECT_EQ(fake.messages.texts().last(), "Error: can not create TCP redirector");
    EXPECT_FALSE(vsp.calls().contains("vsp_startEmulation"));
    EXPECT_TRUE(editorShown());
    click("cmdNewRedirect(1)");  // Cancel rescans: the lone Connector is listed
    EXPECT_EQ(rows(), QStringList{"COM1||||Initializing"});
    EXPECT_FALSE(editorShown());
    EXPECT_FALSE(unsaved());
}

TEST_F(CreateRedirect, ARefusedUpdateBringsTheOldRedirectBackAndKeepsTheUsersValues)
{
    listRedirect(5, "9600,0,8,1,0,0", "good.host", "3001");
    const QString oldClient = "good.host;3001;5;9600,0,8,1,0,0;1;0;";
    openProperties(0);
    box("txtHostAddress")->setText("typo;host");
    vsp.refuseType("TcpClient");
    click("cmdNewRedirect(0)");

    EXPECT_EQ(fake.messages.texts(), QStringList{"Error: can not create TCP redirector"});
    EXPECT_EQ(rows(), QStringList{"COM5|9600,0,8,1,0,0|good.host|3001|Emulation is OFF"});
    ASSERT_EQ(vsp.calls().count("vsp_createDevice Connector 5;0"), 2);  // the new half, then the old pair again
    EXPECT_TRUE(vsp.calls().contains("vsp_destroyDevice 2\n"));       // the new half removed
    EXPECT_TRUE(vsp.calls().contains("vsp_createDevice TcpClient " + oldClient));
    EXPECT_TRUE(editorShown());
    EXPECT_EQ(createButtonText(), "Update");
    EXPECT_EQ(box("txtHostAddress")->text(), "typo;host");
    EXPECT_EQ(devicesLabel(), "3;4");  // pointing at the restored pair
    EXPECT_FALSE(unsaved());

    box("txtHostAddress")->setText("fixed.host");  // corrected: the update goes through
    click("cmdNewRedirect(0)");
    EXPECT_EQ(rows(), QStringList{"COM5|9600,0,8,1,0,0|fixed.host|3001|Emulation is OFF"});
    EXPECT_TRUE(unsaved());
}

TEST_F(CreateRedirect, ARefusedUpdateBringsBackTheStringsTheLibraryHeldNotOnesRebuiltFromTheFields)
{
    // Strings this program would not build (a configuration file written elsewhere).
    vsp.addDevice("Connector", "5;0;x");
    const QString oldClient = "good.host;3001;5;9600,0,8,1,0,0,7;1;1;extra";
    vsp.addDevice("TcpClient", oldClient.toUtf8().constData());
    window->ScanAvailPairs();
    openProperties(0);
    vsp.refuseType("TcpClient");
    click("cmdNewRedirect(0)");

    EXPECT_TRUE(vsp.calls().contains("vsp_createDevice Connector 5;0;x\n"));
    EXPECT_TRUE(vsp.calls().contains("vsp_createDevice TcpClient " + oldClient + "\n"));
    EXPECT_EQ(devicesLabel(), "3;4");
}

}  // namespace
