#include "windows/frmMain.h"

#include "app/HandlerBoundary.h"
#include "app/ProgramState.h"

#include <QAction>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTreeView>
#include <QPushButton>
#include <stdexcept>

frmMain::frmMain(Platform& platform, QWidget* parent) : QMainWindow(parent), platform_(platform)
{
    if (!platform_.state)
        throw std::logic_error("the main window is handed no program state");
    buildLayout();
    connectHandlers();
    if (platform_.wine) {
        winePorts_ = std::make_unique<WinePorts>(*platform_.wine, *platform_.state);
        connect(&emulation_, &EmulationSwitch::changed, winePorts_.get(), &WinePorts::setRunning);
    }
    statusRefresh_.emplace(*redirects_, *this, *TrayPic, *platform_.state);  // starts and stops as the window shows and hides
    connect(&*statusRefresh_, &StatusRefresh::certificateUnknown, this,
            handler(this, Trap(QStringLiteral("trustCertificate")), &frmMain::trustCertificate));
}

void frmMain::showMessage(const QString& text)
{
    platform_.messages->show({text, msgbox::Buttons::Ok, msgbox::Icon::Critical});
}

void frmMain::connectHandlers()
{
    // Every handler runs through the boundary that keeps a failure out of the event loop.
    auto on = [this](const char* procedure, auto method) {
        return handler(this, Trap(QString::fromLatin1(procedure)), method);
    };
    connect(cmdHide, &QPushButton::clicked, this, on("cmdHide_Click", &frmMain::cmdHide_Click));
    connect(mnuEmulation, &QAction::triggered, this, on("mnuEmulation_Click", &frmMain::mnuEmulation_Click));
    connect(mnuLoad, &QAction::triggered, this, on("mnuLoad_Click", &frmMain::mnuLoad_Click));
    connect(mnuExit, &QAction::triggered, this, on("mnuExit_Click", &frmMain::mnuExit_Click));
    connect(mnuOptions, &QAction::triggered, this, on("mnuOptions_Click", &frmMain::mnuOptions_Click));
    connect(mnuViewHelp, &QAction::triggered, this, on("mnuViewHelp_Click", &frmMain::mnuViewHelp_Click));
    connect(mnuAbout, &QAction::triggered, this, on("mnuAbout_Click", &frmMain::mnuAbout_Click));
    connect(mnuSave, &QAction::triggered, this, on("mnuSave_Click", &frmMain::mnuSave_Click));
    connect(mnuSaveAs, &QAction::triggered, this, on("mnuSaveAs_Click", &frmMain::mnuSaveAs_Click));
    connect(TrayPic, &TrayIconPort::activated, this, on("TrayPic_MouseMove", &frmMain::TrayPic_MouseMove));
    connect(mnuCreate, &QAction::triggered, this, on("mnuCreate_Click", &frmMain::mnuCreate_Click));
    connect(mnuProperties, &QAction::triggered, this, on("mnuProperties_Click", &frmMain::mnuProperties_Click));
    connect(mnuReinitialize, &QAction::triggered, this, on("mnuReinitialize_Click", &frmMain::mnuReinitialize_Click));
    connect(mnuRemove, &QAction::triggered, this, on("mnuRemove_Click", &frmMain::mnuRemove_Click));
    connect(mnuRemoveAll, &QAction::triggered, this, on("mnuRemoveAll_Click", &frmMain::mnuRemoveAll_Click));
    connect(mnuMonitor, &QAction::triggered, this, on("mnuMonitor_Click", &frmMain::mnuMonitor_Click));
    for (std::int16_t i = 0; i < 2; ++i)
        connect(editor_->cmdNewRedirect[i], &QPushButton::clicked, this,
                handler(Trap(QStringLiteral("cmdNewRedirect_Click")), [this, i] { cmdNewRedirect_Click(i); }));
    connect(editor_->cmdCertificate, &QPushButton::clicked, this,
            on("cmdCertificate_Click", &frmMain::cmdCertificate_Click));
    connect(&emulation_, &EmulationSwitch::changed, this, [this](bool running) {
        mnuEmulation->setText(running ? QStringLiteral("Stop Emulation") : QStringLiteral("Start Emulation"));
    });
    lstPairs->viewport()->installEventFilter(this);
    editor_->txtHostPort->installEventFilter(this);
    editor_->txtRIT->installEventFilter(this);
}

bool frmMain::eventFilter(QObject* watched, QEvent* event)
{
    // The dialog a start request waits for has closed.
    if (event->type() == QEvent::Hide && m_PendingStart && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->isModal())
        resumeStartRequest();
    if (watched == lstPairs->viewport() && event->type() == QEvent::MouseButtonPress) {
        const auto* press = static_cast<QMouseEvent*>(event);
        runHandler(Trap(QStringLiteral("lstPairs_MouseDown")), [&] {
            lstPairs_MouseDown(press->button(), press->modifiers(), press->position().toPoint().x(),
                               press->position().toPoint().y());
        });
        // The list's own handling of a right press would clear the selection on
        // empty space; the handler has already selected what it should.
        return press->button() == Qt::RightButton;
    }
    if (event->type() == QEvent::FocusOut) {
        // The focus moving to another widget of the window validates; the window
        // losing the focus (another window, a pop-up) does not.
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
            bool cancel = false;
            if (watched == editor_->txtHostPort)
                runHandler(Trap(QStringLiteral("txtHostPort_Validate")), [&] { txtHostPort_Validate(cancel); });
            else if (watched == editor_->txtRIT)
                runHandler(Trap(QStringLiteral("txtRIT_Validate")), [&] { txtRIT_Validate(cancel); });
        }
    }
    return QMainWindow::eventFilter(watched, event);
}
