#include "app/windows/frmMain.h"

#include <QAction>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTreeWidget>
#include <QPushButton>
#include <QTreeWidgetItem>

bool g_EmulationRunning = false;
QString g_TitleText;

frmMain::frmMain(Platform& platform, QWidget* parent) : QMainWindow(parent), platform_(platform)
{
    buildLayout();
    connectHandlers();
}

QString frmMain::deviceRecordOf(const QTreeWidgetItem* row)
{
    return row->data(ColComPort, Qt::UserRole).toString();
}

void frmMain::showMessage(const QString& text)
{
    platform_.messages->show({text, msgbox::Buttons::Ok, msgbox::Icon::Critical});
}

void frmMain::connectHandlers()
{
    connect(cmdHide, &QPushButton::clicked, this, &frmMain::cmdHide_Click);
    connect(mnuEmulation, &QAction::triggered, this, &frmMain::mnuEmulation_Click);
    connect(mnuLoad, &QAction::triggered, this, &frmMain::mnuLoad_Click);
    connect(mnuExit, &QAction::triggered, this, &frmMain::mnuExit_Click);
    connect(mnuOptions, &QAction::triggered, this, &frmMain::mnuOptions_Click);
    connect(mnuViewHelp, &QAction::triggered, this, &frmMain::mnuViewHelp_Click);
    connect(mnuAbout, &QAction::triggered, this, &frmMain::mnuAbout_Click);
    connect(mnuSave, &QAction::triggered, this, [this] { mnuSave_Click(); });
    connect(mnuSaveAs, &QAction::triggered, this, [this] { mnuSaveAs_Click(); });
    connect(TrayPic, &TrayIconPort::activated, this, &frmMain::TrayPic_MouseMove);
    connect(mnuCreate, &QAction::triggered, this, &frmMain::mnuCreate_Click);
    connect(mnuProperties, &QAction::triggered, this, &frmMain::mnuProperties_Click);
    connect(mnuReinitialize, &QAction::triggered, this, &frmMain::mnuReinitialize_Click);
    connect(mnuRemove, &QAction::triggered, this, &frmMain::mnuRemove_Click);
    connect(mnuRemoveAll, &QAction::triggered, this, &frmMain::mnuRemoveAll_Click);
    for (std::int16_t i = 0; i < 2; ++i)
        connect(cmdNewRedirect[i], &QPushButton::clicked, this, [this, i] { cmdNewRedirect_Click(i); });
    lstPairs->viewport()->installEventFilter(this);
    txtHostPort->installEventFilter(this);
    txtRIT->installEventFilter(this);
}

bool frmMain::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == lstPairs->viewport() && event->type() == QEvent::MouseButtonPress) {
        const auto* press = static_cast<QMouseEvent*>(event);
        lstPairs_MouseDown(press->button(), press->modifiers(), press->position().toPoint().x(),
                           press->position().toPoint().y());
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
            if (watched == txtHostPort)
                txtHostPort_Validate(cancel);
            else if (watched == txtRIT)
                txtRIT_Validate(cancel);
        }
    }
    return QMainWindow::eventFilter(watched, event);
}
