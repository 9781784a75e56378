#include "app/windows/frmMain.h"

#include <QAction>
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
    connect(mnuSave, &QAction::triggered, this, [this] { mnuSave_Click(); });
    connect(mnuSaveAs, &QAction::triggered, this, [this] { mnuSaveAs_Click(); });
    connect(TrayPic, &TrayIconPort::activated, this, &frmMain::TrayPic_MouseMove);
}
