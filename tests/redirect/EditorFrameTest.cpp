#include "support/EditorFixture.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QCoreApplication>
#include <QFocusEvent>
#include <QSet>
#include <QTest>
#include <QTimer>

namespace {

class EditorFrame : public EditorFixture {};

TEST_F(EditorFrame, CreateShowsTheDefaultsAndKeepsTheLastHostAndPort)
{
    window->txtHostAddress->setText("adapter.lan");
    window->txtHostPort->setText("4001");
    window->mnuCreate_Click();
    EXPECT_FALSE(window->fraNewRedirect->isHidden());
    EXPECT_EQ(window->fraNewRedirect->pos(), window->fraMain->pos());
    EXPECT_EQ(editorValues(), "COM1|19200|no|no|8|1|0|adapter.lan|4001");
    EXPECT_EQ(window->lblDevices->text(), "0");
    EXPECT_EQ(window->cmdNewRedirect[0]->text(), "Create");
    EXPECT_EQ(window->fraNewRedirect->title(), "Create COM <-> TCP redirect");
    EXPECT_EQ(fake.cursor.depth, 0);
    EXPECT_TRUE(folder.log().isEmpty());
}

TEST_F(EditorFrame, TheProbeOffersOnlyPortsThatCannotBeOpened)
{
    presentPort(1);
    presentPort(3);
    window->loadPairPropertiesFrame();
    ASSERT_EQ(window->cmbComPort->count(), 253);
    EXPECT_EQ(window->cmbComPort->itemText(0), "COM2");
    EXPECT_EQ(window->cmbComPort->itemText(1), "COM4");
    EXPECT_EQ(window->cmbComPort->itemText(252), "COM255");
    EXPECT_EQ(window->cmbComPort->currentText(), "COM2");
    EXPECT_TRUE(window->cmbComPort->isEnabled());
    EXPECT_TRUE(window->cmbComPort->styleSheet().isEmpty());
}

TEST_F(EditorFrame, WhileThePortsAreScannedTheBoxIsRedAndNoCommandRuns)
{
    listRedirect(5);
    bool checked = false;
    QTimer::singleShot(0, [&] {  // runs when the scan lets events through
        checked = true;
        EXPECT_FALSE(window->cmbComPort->isEnabled());
        EXPECT_TRUE(window->cmbComPort->styleSheet().contains("255, 0, 0"));
        EXPECT_FALSE(window->mnuLoad->isEnabled());
        EXPECT_FALSE(window->mnuEmulation->isEnabled());
        EXPECT_FALSE(window->mnuRemoveAll->isEnabled());
        EXPECT_FALSE(window->cmdNewRedirect[0]->isEnabled());
        window->cmdNewRedirect_Click(0);
        window->mnuRemove_Click();
    });
    window->mnuRemove->setEnabled(false);  // as a right click on empty space left it
    window->mnuCreate_Click();
    EXPECT_TRUE(checked);
    EXPECT_FALSE(vsp.calls().contains("vsp_createDevice"));
    EXPECT_FALSE(vsp.calls().contains("vsp_destroyDevice"));
    EXPECT_TRUE(window->mnuLoad->isEnabled());
    EXPECT_TRUE(window->cmdNewRedirect[0]->isEnabled());
    EXPECT_FALSE(window->mnuRemove->isEnabled());  // its state from before comes back
}

TEST_F(EditorFrame, PropertiesShowsTheRedirectsOwnSettingsAndPort)
{
    listRedirect(5, "9600,1,7,2,3,250", "192.168.7.7", "3005");
    presentPort(5);  // the running port itself cannot be offered by the scan
    selectRow(0);
    window->mnuProperties_Click();
    EXPECT_EQ(editorValues(), "COM5|9600|yes|mark|7|2|250|192.168.7.7|3005");
    EXPECT_EQ(window->lblDevices->text(), "0;1");
    EXPECT_EQ(window->cmdNewRedirect[0]->text(), "Update");
    EXPECT_EQ(window->fraNewRedirect->title(), "Update existing COM <-> TCP redirect");
    EXPECT_EQ(window->cmbComPort->itemText(4), "COM5");  // put back in port order
    EXPECT_TRUE(folder.log().isEmpty());
}

TEST_F(EditorFrame, ACombinedTextCutShortFillsWhatItHasAndLogsEachMissingField)
{
    window->loadPairPropertiesFrame();
    window->showPairProperties("0;1", "5;0;a-very-long-host-name.example.org;3001;5;19200,0");
    EXPECT_EQ(window->txtHostAddress->text(), "a-very-long-host-name.example.org");
    EXPECT_EQ(window->cmbBaud->currentText(), "19200");
    EXPECT_EQ(window->cmbDTRRTS->currentText(), "no");
    for (int line : {180, 190, 200, 210})
        EXPECT_TRUE(folder.log().contains(
            QString("Error 9 (Subscript out of range) in procedure showPairProperties of Form frmMain on line %1\r\n").arg(line).toUtf8()))
            << line;
    EXPECT_EQ(window->cmdNewRedirect[0]->text(), "Update");
}

TEST_F(EditorFrame, NumericBoxesReplaceTextThatIsNotANumber)
{
    bool cancel = false;
    window->txtHostPort->setText("30a1");
    window->txtHostPort_Validate(cancel);
    EXPECT_EQ(window->txtHostPort->text(), "30");
    window->txtRIT->setText("");
    window->txtRIT_Validate(cancel);
    EXPECT_EQ(window->txtRIT->text(), "0");
    EXPECT_EQ(fake.messages.texts(), (QStringList{"Only number are allowed.", "Only number are allowed."}));
    EXPECT_EQ(fake.messages.shown[0].icon, msgbox::Icon::None);
    for (const char* fine : {"-5", " 2.5e3 ", "0", ".5"}) {
        window->txtRIT->setText(fine);
        window->txtRIT_Validate(cancel);
        EXPECT_EQ(window->txtRIT->text(), fine);
    }
    EXPECT_EQ(fake.messages.shown.size(), 2);
    EXPECT_FALSE(cancel);

    // Leaving the box by moving the focus runs the check.
    window->activateWindow();
    window->txtHostPort->setText("x");
    QFocusEvent leave(QEvent::FocusOut, Qt::TabFocusReason);
    QCoreApplication::sendEvent(window->txtHostPort, &leave);
    EXPECT_EQ(window->txtHostPort->text(), "0");
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
        window->lstPairs->setFocus();
        if (update) {
            selectRow(0);
            window->mnuProperties_Click();
        } else {
            window->mnuCreate_Click();
        }
        EXPECT_EQ(QApplication::focusWidget(), window->cmbComPort);
        for (const Qt::Key key : {Qt::Key_Tab, Qt::Key_Backtab}) {
            QSet<QWidget*> stops;
            for (int step = 0; step < 13; ++step) {  // the editor's 11 stops, and beyond
                QTest::keyClick(QApplication::focusWidget(), key);
                QWidget* focus = QApplication::focusWidget();
                ASSERT_TRUE(focus && window->fraNewRedirect->isAncestorOf(focus) && focus->isVisible())
                    << step << " " << (focus ? focus->objectName().toStdString() : "none");
                stops << focus;
            }
            EXPECT_EQ(stops.size(), 11);  // six lists, three boxes, two buttons
        }
        EXPECT_EQ(window->cmbComPort->currentText(), update ? "COM5" : "COM1");
        window->cmdNewRedirect_Click(1);
        EXPECT_TRUE(window->lstPairs->isVisible());
        EXPECT_TRUE(window->cmdHide->isVisible());
    }
    EXPECT_FALSE(window->isHidden());
    EXPECT_TRUE(fake.messages.shown.isEmpty());
}

}  // namespace
