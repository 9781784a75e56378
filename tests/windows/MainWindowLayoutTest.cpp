#include "support/MainWindowFixture.h"

#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>

namespace {

class MainWindowLayout : public MainWindowFixture {};

struct Expected {
    const char* name;
    const char* parent;
    QRect geometry;  // a label's width and height are its own: 0 here
    const char* text;
    const char* toolTip;
    bool visible;
};

QString textOf(QWidget* w)
{
    if (auto* b = qobject_cast<QGroupBox*>(w))
        return b->title();
    if (auto* l = qobject_cast<QLabel*>(w))
        return l->text();
    if (auto* e = qobject_cast<QLineEdit*>(w))
        return e->text();
    if (auto* p = qobject_cast<QPushButton*>(w))
        return p->text();
    return {};
}

TEST_F(MainWindowLayout, WidgetsStandWhereAndAsTheLayoutSays)
{
    const Expected table[] = {
        {"fraMain", "client", {8, 4, 545, 191}, "COM <-> TCP Devices", "", true},
        {"lstPairs", "fraMain", {8, 20, 528, 137}, "", "", true},
        {"lblAPIVer", "fraMain", {8, 168, 0, 0}, "API Version:", "Current VSP API library version", true},
        {"XPHolder(1)", "fraMain", {476, 160, 61, 25}, "", "", true},
        {"cmdHide", "XPHolder(1)", {4, 0, 57, 25}, "Hide", "Hide the program into system tray", true},
        {"fraNewRedirect", "client", {8, 200, 545, 191}, "Create COM <-> TCP redirect", "", false},
        {"lblInfo(0)", "fraNewRedirect", {12, 20, 0, 0}, "COM:", "", true},
        {"cmbComPort", "fraNewRedirect", {92, 16, 81, 21}, "", "List of available COM ports", true},
        {"lblInfo(1)", "fraNewRedirect", {12, 44, 0, 0}, "Baud:", "", true},
        {"cmbBaud", "fraNewRedirect", {92, 40, 81, 21}, "", "", true},
        {"lblInfo(2)", "fraNewRedirect", {12, 68, 0, 0}, "DTR/RTS:", "", true},
        {"cmbDTRRTS", "fraNewRedirect", {112, 64, 61, 21}, "", "", true},
        {"lblInfo(4)", "fraNewRedirect", {12, 92, 0, 0}, "Bits:", "", true},
        {"cmbBits", "fraNewRedirect", {112, 88, 61, 21}, "", "", true},
        {"lblInfo(3)", "fraNewRedirect", {12, 116, 0, 0}, "Parity:", "", true},
        {"cmbParity", "fraNewRedirect", {112, 112, 61, 21}, "", "", true},
        {"lblInfo(5)", "fraNewRedirect", {12, 140, 0, 0}, "Stop Bits:", "", true},
        {"cmbStopBits", "fraNewRedirect", {112, 136, 61, 21}, "", "", true},
        {"lblInfo(6)", "fraNewRedirect", {12, 164, 0, 0}, "Read TimeOut:", "", true},
        {"txtRIT", "fraNewRedirect", {112, 160, 61, 19}, "0", "", true},
        {"lblInfo(7)", "fraNewRedirect", {212, 20, 0, 0}, "Host Address:", "", true},
        {"txtHostAddress", "fraNewRedirect", {300, 16, 237, 19}, "192.168.0.100",
         "Host address (will resolve redirects if needed)", true},
        {"lblInfo(8)", "fraNewRedirect", {212, 44, 0, 0}, "Host Port:", "", true},
        {"txtHostPort", "fraNewRedirect", {476, 40, 61, 19}, "3001", "Remote host port", true},
        {"XPHolder(0)", "fraNewRedirect", {376, 152, 161, 33}, "", "", true},
        {"cmdNewRedirect(0)", "XPHolder(0)", {0, 0, 77, 29}, "Create",
         "Create a COM <-> TCP redirect using entered settings", true},
        {"cmdNewRedirect(1)", "XPHolder(0)", {84, 0, 77, 29}, "Cancel",
         "Ignore entered settings and display list of created devices", true},
        {"lblDevices", "fraNewRedirect", {252, 0, 0, 0}, "deviceIDs_invisible_label", "", false},
    };
    for (const Expected& e : table) {
        SCOPED_TRACE(e.name);
        QWidget* w = part(e.name);
        EXPECT_EQ(w->parentWidget()->objectName(), e.parent);
        const QRect expected = e.geometry.width() ? e.geometry : QRect(e.geometry.topLeft(), w->size());
        EXPECT_EQ(w->geometry(), expected);
        EXPECT_EQ(textOf(w), e.text);
        EXPECT_EQ(w->toolTip(), e.toolTip);
        EXPECT_EQ(!w->isHidden(), e.visible);
        if (qobject_cast<QLabel*>(w))  // every caption fits within its frame
            EXPECT_LE(w->geometry().right(), w->parentWidget()->width());
    }
}

TEST_F(MainWindowLayout, ListHasFiveLeftAlignedColumnsAndTheWindowShowsOnlyTheListFrame)
{
    const char* headers[] = {"COM Port", "COM Port Settings", "Host Address", "Host Port", "Status"};
    const int widths[] = {67, 120, 150, 75, 93};
    ASSERT_EQ(listRows::columnCount(list()), 5);
    for (int c = 0; c < 5; ++c) {
        EXPECT_EQ(listRows::headerText(list(), c), headers[c]);
        EXPECT_EQ(list()->columnWidth(c), widths[c]);
        EXPECT_TRUE(listRows::headerAlignment(list(), c) & Qt::AlignLeft);
    }
    EXPECT_FALSE(list()->rootIsDecorated());
    EXPECT_EQ(list()->selectionBehavior(), QAbstractItemView::SelectRows);

    window->show();
    EXPECT_EQ(window->minimumSize(), window->maximumSize());  // fixed size
    EXPECT_EQ(window->centralWidget()->height(), frmMain::upperClientHeight);
    EXPECT_GE(window->centralWidget()->height(), part("fraMain")->geometry().bottom());
    EXPECT_FALSE(window->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
}

TEST_F(MainWindowLayout, MenuTreeWithAccessLettersShortcutsAndThePopUpKeptOutOfTheBar)
{
    auto entries = [](QMenu* menu) {
        QStringList list;
        for (QAction* a : menu->actions())
            list << (a->isSeparator() ? QString("-") : a->objectName() + "=" + a->text() + "=" + a->shortcut().toString());
        return list;
    };
    QStringList bar;
    for (QAction* a : window->menuBar()->actions())
        bar << a->text();
    EXPECT_EQ(bar, (QStringList{"File", "Emulation", "&Help"}));
    EXPECT_EQ(entries(part<QMenu>("mnuFile")), (QStringList{"mnuLoad=&Load=Ctrl+L", "mnuSave=&Save=Ctrl+S", "mnuSaveAs=Save &As...=",
                                                      "-", "mnuOptions=&Options=Ctrl+O", "-", "mnuExit=E&xit=Ctrl+X"}));
    EXPECT_EQ(entries(part<QMenu>("mnuEmuOpt")), (QStringList{"mnuEmulation=Start Emulation=Ctrl+E"}));
    EXPECT_EQ(entries(part<QMenu>("mnuDevices")),
              (QStringList{"mnuCreate=Create=Ctrl+C", "mnuProperties=Properties=Ctrl+P", "-",
                           "mnuReinitialize=Reinitialize=Ctrl+I", "mnuRemove=Remove=Ctrl+R", "-", "mnuRemoveAll=Remove All=",
                           "-", "mnuMonitor=Monitor="}));
    EXPECT_EQ(entries(part<QMenu>("mnuHelp")), (QStringList{"mnuViewHelp=Help=Ctrl+H", "mnuAbout=About="}));
    for (QAction* a : part<QMenu>("mnuDevices")->actions())
        EXPECT_TRUE(a->isEnabled());
}

}  // namespace
