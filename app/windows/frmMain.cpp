#include "app/windows/frmMain.h"

#include "Version.h"

frmMain::frmMain(QWidget* parent) : QMainWindow(parent)
{
    setWindowTitle(QString::fromUtf8(version::title));
}
