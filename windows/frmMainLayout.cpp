// The main window's widgets, texts, tooltips, first states and places (pixels at
// 96 dpi, absolute within their containers), and its menu tree.
#include "windows/frmMain.h"

#include "app/AppIcon.h"
#include "app/Placement.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QTreeView>

namespace {

// The pale-blue picture behind the list's rows.
QBrush listBackground()
{
    QPixmap tile(19, 28);
    tile.fill(QColor(238, 244, 252));
    QPainter p(&tile);
    p.setPen(QColor(226, 236, 250));
    p.drawLine(0, 27, 18, 27);
    return QBrush(tile);
}

}  // namespace

void frmMain::buildLayout()
{
    setWindowIcon(appIcon());
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);  // no minimize or maximize box
    // A narrow face at the size of the classic 8-point dialog font, so every caption
    // and status text fits the fixed widths.
    QFont font(QStringLiteral("DejaVu Sans Condensed"));
    font.setPixelSize(11);
    setFont(font);

    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    setCentralWidget(client);

    fraMain = place(new QGroupBox(QStringLiteral("COM <-> TCP Devices"), client), "fraMain", 8, 4, 545, 191);
    lstPairs = place(new QTreeView(fraMain), "lstPairs", 8, 20, 528, 137);
    redirects_.emplace(*lstPairs);  // the rows, with the columns' captions
    lstPairs->setRootIsDecorated(false);
    lstPairs->setSelectionBehavior(QAbstractItemView::SelectRows);
    lstPairs->setSelectionMode(QAbstractItemView::SingleSelection);
    const int widths[] = {67, 120, 150, 75, 93};
    for (int c = 0; c < 5; ++c)
        lstPairs->setColumnWidth(c, widths[c]);
    lstPairs->header()->setStretchLastSection(false);
    QPalette palette = lstPairs->viewport()->palette();
    palette.setBrush(QPalette::Base, listBackground());
    lstPairs->viewport()->setPalette(palette);

    lblAPIVer = placeLabel(fraMain, QStringLiteral("lblAPIVer"), QStringLiteral("API Version:"), 8, 168);
    lblAPIVer->setToolTip(QStringLiteral("Current VSP API library version"));
    XPHolder[1] = place(new QWidget(fraMain), "XPHolder(1)", 476, 160, 61, 25);
    cmdHide = place(new QPushButton(QStringLiteral("Hide"), XPHolder[1]), "cmdHide", 4, 0, 57, 25);
    cmdHide->setToolTip(QStringLiteral("Hide the program into system tray"));
    TrayPic = platform_.tray;

    buildEditorFrame(client);
    buildMenus();

    const RedirectEditor& e = *editor_;
    setTabOrder(lstPairs, e.cmbComPort);
    QWidget* order[] = {e.cmbComPort,  e.cmbBaud,           e.cmbDTRRTS,         e.cmbParity,
                        e.cmbBits,     e.cmbStopBits,       e.txtRIT,            e.txtHostAddress,
                        e.txtHostPort, e.chkTls,            e.cmdCertificate,    e.cmdNewRedirect[0],
                        e.cmdNewRedirect[1], cmdHide};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);

    showUpperFramePosition();
    move(screen()->availableGeometry().center() - rect().center());
}

void frmMain::buildEditorFrame(QWidget* client)
{
    editor_ = place(new RedirectEditor(client), "fraNewRedirect", 8, 200, 545, 191);
    editor_->hide();
    XPHolder[0] = editor_->buttonHolder;
}

void frmMain::buildMenus()
{
    auto entry = [this](QMenu* menu, const char* name, const char* caption, const char* shortcut = nullptr) {
        QAction* action = menu->addAction(QString::fromLatin1(caption));
        action->setObjectName(QString::fromLatin1(name));
        if (shortcut)
            action->setShortcut(QKeySequence(QString::fromLatin1(shortcut)));
        return action;
    };
    auto line = [](QMenu* menu, const char* name) {
        QAction* separator = menu->addSeparator();
        separator->setObjectName(QString::fromLatin1(name));
        return separator;
    };

    mnuFile = menuBar()->addMenu(QStringLiteral("File"));
    mnuFile->setObjectName(QStringLiteral("mnuFile"));
    mnuLoad = entry(mnuFile, "mnuLoad", "&Load", "Ctrl+L");
    mnuSave = entry(mnuFile, "mnuSave", "&Save", "Ctrl+S");
    mnuSaveAs = entry(mnuFile, "mnuSaveAs", "Save &As...");
    mnuLine = line(mnuFile, "mnuLine");
    mnuOptions = entry(mnuFile, "mnuOptions", "&Options", "Ctrl+O");
    mnuLine1 = line(mnuFile, "mnuLine1");
    mnuExit = entry(mnuFile, "mnuExit", "E&xit", "Ctrl+X");

    mnuEmuOpt = menuBar()->addMenu(QStringLiteral("Emulation"));
    mnuEmuOpt->setObjectName(QStringLiteral("mnuEmuOpt"));
    mnuEmulation = entry(mnuEmuOpt, "mnuEmulation", "Start Emulation", "Ctrl+E");

    // Not in the menu bar: the list's pop-up only. Its entries are added to the
    // window too, so their shortcuts work wherever the focus is in the window.
    mnuDevices = new QMenu(QStringLiteral("mnuDevices"), this);
    mnuDevices->setObjectName(QStringLiteral("mnuDevices"));
    mnuCreate = entry(mnuDevices, "mnuCreate", "Create", "Ctrl+C");
    mnuProperties = entry(mnuDevices, "mnuProperties", "Properties", "Ctrl+P");
    mnuLine3 = line(mnuDevices, "mnuLine3");
    mnuReinitialize = entry(mnuDevices, "mnuReinitialize", "Reinitialize", "Ctrl+I");
    mnuRemove = entry(mnuDevices, "mnuRemove", "Remove", "Ctrl+R");
    mnuLine4 = line(mnuDevices, "mnuLine4");
    mnuRemoveAll = entry(mnuDevices, "mnuRemoveAll", "Remove All");
    mnuLine5 = line(mnuDevices, "mnuLine5");
    mnuMonitor = entry(mnuDevices, "mnuMonitor", "Monitor");
    addActions(mnuDevices->actions());

    mnuHelp = menuBar()->addMenu(QStringLiteral("&Help"));
    mnuHelp->setObjectName(QStringLiteral("mnuHelp"));
    mnuViewHelp = entry(mnuHelp, "mnuViewHelp", "Help", "Ctrl+H");
    mnuAbout = entry(mnuHelp, "mnuAbout", "About");
}

void frmMain::showUpperFramePosition()
{
    setFixedSize(layoutClientSize.width(), menuBar()->sizeHint().height() + upperClientHeight);
}
