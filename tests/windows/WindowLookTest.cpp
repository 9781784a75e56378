// What the user sees of the windows: the editor laid over the list covers it
// whole, the COM port box keeps the window's font through its scans, and the
// options dialog opens with the focus on its first control.
#include "windows/frmOptions.h"
#include "support/EditorFixture.h"

#include <QApplication>
#include <QFontInfo>
#include <QImage>
#include <QRadioButton>

namespace {

class WindowLook : public EditorFixture {};

// Where the widget stands in the window, as it is drawn in window->grab().
QRect rectInWindow(const QWidget* widget, const QWidget* window)
{
    return QRect(widget->mapTo(window, QPoint(0, 0)), widget->size());
}

TEST_F(WindowLook, NothingOfTheListShowsThroughTheEditor)
{
    // Rows, a highlighted selection, the list's headers, the version label and the
    // Hide button all lie under the editor.
    listRedirect(5);
    listRedirect(12, "115200,1,8,1,0,50", "adapter.lab.example", "3002");
    selectRow(0);
    trigger("mnuCreate");
    ASSERT_FALSE(part("fraNewRedirect")->isHidden());
    ASSERT_TRUE(window->rect().contains(rectInWindow(part("fraNewRedirect"), window.get())));

    const QImage seen = window->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QImage editorAlone = part("fraNewRedirect")->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QImage underEditor = seen.copy(rectInWindow(part("fraNewRedirect"), window.get()));
    ASSERT_EQ(underEditor.size(), editorAlone.size());
    int differing = 0;
    for (int y = 0; y < editorAlone.height(); ++y)
        for (int x = 0; x < editorAlone.width(); ++x)
            differing += underEditor.pixel(x, y) != editorAlone.pixel(x, y);
    EXPECT_EQ(differing, 0) << "pixels of the list frame seen through the editor";
}

TEST_F(WindowLook, TheComPortBoxKeepsTheWindowsFontAfterEveryScan)
{
    const QFont expected = choice("cmbBaud")->font();
    for (int scan = 0; scan < 2; ++scan) {
        trigger("mnuCreate");
        EXPECT_EQ(choice("cmbComPort")->font(), expected) << scan;
        EXPECT_EQ(QFontInfo(choice("cmbComPort")->font()).pixelSize(), QFontInfo(expected).pixelSize()) << scan;
    }
}

TEST_F(WindowLook, TheOptionsDialogOpensWithTheFocusOnItsFirstControl)
{
    const QByteArray savedHome = qgetenv("XDG_CONFIG_HOME"), savedDirs = qgetenv("XDG_CONFIG_DIRS");
    qputenv("XDG_CONFIG_HOME", folder.path("home-config").toUtf8());
    qputenv("XDG_CONFIG_DIRS", folder.path("xdg").toUtf8());
    for (const char* choice : {"0", "2"}) {  // whichever option is selected
        WriteIni("QuorlinVCP", "ScriptLoadOPT", choice, fake.state.settingsFile);
        frmOptions options(fake.platform, window->titleText(), window.get());
        options.Form_Load();
        options.show();
        options.activateWindow();
        QApplication::processEvents();
        ASSERT_NE(options.focusWidget(), nullptr);
        EXPECT_EQ(options.focusWidget()->objectName(), "optScriptOpt(0)") << choice;
        options.hide();
    }
    qputenv("XDG_CONFIG_HOME", savedHome);
    qputenv("XDG_CONFIG_DIRS", savedDirs);
}

}  // namespace
