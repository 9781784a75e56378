#include "support/EditorFixture.h"

#include <QApplication>
#include <QSet>
#include <QTest>
#include <QTimer>

namespace {

class EditorFrame : public EditorFixture {};

TEST_F(EditorFrame, CreateShowsTheDefaultsAndKeepsTheLastHostAndPort)
{
    box("txtHostAddress")->setText("adapter.lan");
    box("txtHostPort")->setText("4001");
    trigger("mnuCreate");
    EXPECT_TRUE(editorShown());
    EXPECT_EQ(part("fraNewRedirect")->pos(), part("fraMain")->pos());
    EXPECT_EQ(editorValues(), "COM1|19200|no|no|8|1|0|adapter.lan|4001");
    EXPECT_EQ(devicesLabel(), "0");
    EXPECT_EQ(createButtonText(), "Create");
    EXPECT_EQ(part<QGroupBox>("fraNewRedirect")->title(), "Create COM <-> TCP redirect");
    EXPECT_EQ(fake.cursor.depth, 0);
    EXPECT_TRUE(folder.log().isEmpty());
}

TEST_F(EditorFrame, TheProbeOffersOnlyPortsThatCannotBeOpened)
{
    presentPort(1);
    presentPort(3);
    trigger("mnuCreate");
    QComboBox* ports = choice("cmbComPort");
    ASSERT_EQ(ports->count(), 253);
    EXPECT_EQ(ports->itemText(0), "COM2");
    EXPECT_EQ(ports->itemText(1), "COM4");
    EXPECT_EQ(ports->itemText(252), "COM255");
    EXPECT_EQ(ports->currentText(), "COM2");
    EXPECT_TRUE(ports->isEnabled());
    EXPECT_TRUE(ports->styleSheet().isEmpty());
}

TEST_F(EditorFrame, WhileThePortsAreScannedTheBoxIsRedAndNoCommandRuns)
{
    listRedirect(5);
    bool checked = false;
    QTimer::singleShot(0, [&] {  // runs when the scan lets events through
        checked = true;
        EXPECT_FALSE(choice("cmbComPort")->isEnabled());
        EXPECT_TRUE(choice("cmbComPort")->styleSheet().contains("255, 0, 0"));
        for (const char* command : {"mnuLoad", "mnuEmulation", "mnuRemoveAll", "mnuRemove"})
            EXPECT_FALSE(part<QAction>(command)->isEnabled()) << command;
        EXPECT_FALSE(part("cmdNewRedirect(0)")->isEnabled());
        click("cmdNewRedirect(0)");
        trigger("mnuRemove");
        trigger("mnuRemoveAll");
    });
    part<QAction>("mnuRemove")->setEnabled(false);  // as a right click on empty space left it
    trigger("mnuCreate");
    EXPECT_TRUE(checked);
    EXPECT_FALSE(vsp.calls().contains("vsp_createDevice"));
    EXPECT_FALSE(vsp.calls().contains("vsp_destroy"));
    EXPECT_TRUE(fake.messages.shown.isEmpty());
    EXPECT_TRUE(part<QAction>("mnuLoad")->isEnabled());
    EXPECT_TRUE(part("cmdNewRedirect(0)")->isEnabled());
    EXPECT_FALSE(part<QAction>("mnuRemove")->isEnabled());  // its state from before comes back
}

TEST_F(EditorFrame, PropertiesShowsTheRedirectsOwnSettingsAndPort)
{
    listRedirect(5, "9600,1,7,2,3,250", "192.168.7.7", "3005");
    presentPort(5);  // the running port itself cannot be offered by the scan
    selectRow(0);
    trigger("mnuProperties");
    EXPECT_EQ(editorValues(), "COM5|9600|yes|mark|7|2|250|192.168.7.7|3005");
    EXPECT_EQ(devicesLabel(), "0;1");
    EXPECT_EQ(createButtonText(), "Update");
    EXPECT_EQ(part<QGroupBox>("fraNewRedirect")->title(), "Update existing COM <-> TCP redirect");
    EXPECT_EQ(choice("cmbComPort")->itemText(4), "COM5");  // put back in port order
    EXPECT_TRUE(folder.log().isEmpty());
}

TEST_F(EditorFrame, ARedirectCutShortFillsWhatItHasAndLogsEachMissingField)
{
    vsp.addDevice("Connector", "5;0");
    vsp.addDevice("TcpClient", "a-very-long-host-name.example.org;3001;5;19200,0");
    window->ScanAvailPairs();
    selectRow(0);
    trigger("mnuProperties");
    EXPECT_EQ(box("txtHostAddress")->text(), "a-very-long-host-name.example.org");
    EXPECT_EQ(choice("cmbBaud")->currentText(), "19200");
    EXPECT_EQ(choice("cmbDTRRTS")->currentText(), "no");
    for (int line : {180, 190, 200, 210})
        EXPECT_TRUE(folder.log().contains(
            QString("Error 9 (Subscript out of range) in procedure showPairProperties of Form frmMain on line %1\r\n").arg(line).toUtf8()))
            << line;
    EXPECT_EQ(createButtonText(), "Update");
}

TEST_F(EditorFrame, WhileTheEditorShowsTheKeyboardReachesOnlyItsOwnFields)
{
    // The list frame under the editor must take neither the focus nor the keys: its
    // Hide button would hide the window on Space, its list move the selection unseen.
    listRedirect(5);
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    for (const bool update : {false, true}) {
        SCOPED_TRACE(update ? "update" : "create");
        list()->setFocus();
        if (update) {
            selectRow(0);
            trigger("mnuProperties");
        } else {
            trigger("mnuCreate");
        }
        EXPECT_EQ(QApplication::focusWidget(), choice("cmbComPort"));
        for (const Qt::Key key : {Qt::Key_Tab, Qt::Key_Backtab}) {
            QSet<QWidget*> stops;
            for (int step = 0; step < 14; ++step) {  // the editor's 12 stops, and beyond
                QTest::keyClick(QApplication::focusWidget(), key);
                QWidget* focus = QApplication::focusWidget();
                ASSERT_TRUE(focus && part("fraNewRedirect")->isAncestorOf(focus) && focus->isVisible())
                    << step << " " << (focus ? focus->objectName().toStdString() : "none");
                stops << focus;
            }
            // Six lists, three boxes, the TLS check box, two buttons ("Certificate..." is
            // off while TLS is).
            EXPECT_EQ(stops.size(), 12);
        }
        EXPECT_EQ(choice("cmbComPort")->currentText(), update ? "COM5" : "COM1");
        click("cmdNewRedirect(1)");
        EXPECT_TRUE(list()->isVisible());
        EXPECT_TRUE(part("cmdHide")->isVisible());
    }
    EXPECT_FALSE(window->isHidden());
    EXPECT_TRUE(fake.messages.shown.isEmpty());
}

}  // namespace
