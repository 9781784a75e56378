// The main window's widgets, texts, tooltips, first states and places (pixels at
// 96 dpi, absolute within their containers), and its menu tree.
#include "app/windows/Placement.h"
#include "app/windows/frmMain.h"

#include "app/AppIcon.h"

#include <QAction>
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
#include <QTreeWidget>

namespace {

// The address an adapter answers on out of the box, proposed for a new redirect.
constexpr const char* defaultHostAddress = "192.168.0.100";

QLabel* label(QWidget* parent, const QString& name, const QString& text, int x, int y)
{
    auto* l = new QLabel(text, parent);
    l->setObjectName(name);
    l->move(x, y);
    l->adjustSize();  // labels size themselves to their text
    return l;
}

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
    lstPairs = place(new QTreeWidget(fraMain), "lstPairs", 8, 20, 528, 137);
    lstPairs->setRootIsDecorated(false);
    lstPairs->setSelectionBehavior(QAbstractItemView::SelectRows);
    lstPairs->setSelectionMode(QAbstractItemView::SingleSelection);
    lstPairs->setHeaderLabels({QStringLiteral("COM Port"), QStringLiteral("COM Port Settings"), QStringLiteral("Host Address"),
                               QStringLiteral("Host Port"), QStringLiteral("Status")});
    const int widths[] = {67, 120, 150, 75, 93};
    for (int c = 0; c < 5; ++c) {
        lstPairs->setColumnWidth(c, widths[c]);
        lstPairs->headerItem()->setTextAlignment(c, Qt::AlignLeft | Qt::AlignVCenter);
    }
    lstPairs->header()->setStretchLastSection(false);
    QPalette palette = lstPairs->viewport()->palette();
    palette.setBrush(QPalette::Base, listBackground());
    lstPairs->viewport()->setPalette(palette);

    lblAPIVer = label(fraMain, QStringLiteral("lblAPIVer"), QStringLiteral("API Version:"), 8, 168);
    lblAPIVer->setToolTip(QStringLiteral("Current VSP API library version"));
    XPHolder[1] = place(new QWidget(fraMain), "XPHolder(1)", 476, 160, 61, 25);
    cmdHide = place(new QPushButton(QStringLiteral("Hide"), XPHolder[1]), "cmdHide", 4, 0, 57, 25);
    cmdHide->setToolTip(QStringLiteral("Hide the program into system tray"));
    TrayPic = platform_.tray;

    buildEditorFrame(client);
    buildMenus();

    setTabOrder(lstPairs, cmbComPort);
    QWidget* order[] = {cmbComPort, cmbBaud, cmbDTRRTS, cmbParity, cmbBits, cmbStopBits, txtRIT, txtHostAddress,
                        txtHostPort, cmdNewRedirect[0], cmdNewRedirect[1], cmdHide};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);

    showUpperFramePosition();
    move(screen()->availableGeometry().center() - rect().center());
}

void frmMain::buildEditorFrame(QWidget* client)
{
    fraNewRedirect = place(new QGroupBox(QStringLiteral("Create COM <-> TCP redirect"), client), "fraNewRedirect", 8, 200,
                           545, 191);
    fraNewRedirect->hide();
    // Laid over the list frame, it must cover it: a group box draws no background of
    // its own, so the list's captions and rows would show through between its labels.
    fraNewRedirect->setAutoFillBackground(true);
    QWidget* f = fraNewRedirect;
    auto info = [f](int index, const char* text, int x, int y) {
        return label(f, QStringLiteral("lblInfo(%1)").arg(index), QString::fromLatin1(text), x, y);
    };
    auto list = [f](const char* name, int x, int y, int w, int h) { return place(new QComboBox(f), name, x, y, w, h); };
    auto box = [f](const char* name, const char* text, int x, int y, int w, int h) {
        return place(new QLineEdit(QString::fromLatin1(text), f), name, x, y, w, h);
    };

    lblInfo[0] = info(0, "COM:", 12, 20);
    cmbComPort = list("cmbComPort", 92, 16, 81, 21);
    cmbComPort->setToolTip(QStringLiteral("List of available COM ports"));
    lblInfo[1] = info(1, "Baud:", 12, 44);
    cmbBaud = list("cmbBaud", 92, 40, 81, 21);
    lblInfo[2] = info(2, "DTR/RTS:", 12, 68);
    cmbDTRRTS = list("cmbDTRRTS", 112, 64, 61, 21);
    lblInfo[4] = info(4, "Bits:", 12, 92);
    cmbBits = list("cmbBits", 112, 88, 61, 21);
    lblInfo[3] = info(3, "Parity:", 12, 116);
    cmbParity = list("cmbParity", 112, 112, 61, 21);
    lblInfo[5] = info(5, "Stop Bits:", 12, 140);
    cmbStopBits = list("cmbStopBits", 112, 136, 61, 21);
    lblInfo[6] = info(6, "Read TimeOut:", 12, 164);
    txtRIT = box("txtRIT", "0", 112, 160, 61, 19);
    lblInfo[7] = info(7, "Host Address:", 212, 20);
    txtHostAddress = box("txtHostAddress", defaultHostAddress, 300, 16, 237, 19);
    txtHostAddress->setToolTip(QStringLiteral("Host address (will resolve redirects if needed)"));
    lblInfo[8] = info(8, "Host Port:", 212, 44);
    txtHostPort = box("txtHostPort", "3001", 476, 40, 61, 19);
    txtHostPort->setToolTip(QStringLiteral("Remote host port"));

    XPHolder[0] = place(new QWidget(f), "XPHolder(0)", 376, 152, 161, 33);
    cmdNewRedirect[0] = place(new QPushButton(QStringLiteral("Create"), XPHolder[0]), "cmdNewRedirect(0)", 0, 0, 77, 29);
    cmdNewRedirect[0]->setToolTip(QStringLiteral("Create a COM <-> TCP redirect using entered settings"));
    cmdNewRedirect[1] = place(new QPushButton(QStringLiteral("Cancel"), XPHolder[0]), "cmdNewRedirect(1)", 84, 0, 77, 29);
    cmdNewRedirect[1]->setToolTip(QStringLiteral("Ignore entered settings and display list of created devices"));
    lblDevices = label(f, QStringLiteral("lblDevices"), QStringLiteral("deviceIDs_invisible_label"), 252, 0);
    lblDevices->hide();
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
