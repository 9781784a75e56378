// The Help menu and the options dialog's command.
#include "windows/frmMain.h"

#include "app/InstallLayout.h"
#include "windows/frmAbout.h"
#include "windows/frmOptions.h"

#include <QFileInfo>

const char* const manualFileName = "QV3Manual2008.pdf";

void frmMain::mnuViewHelp_Click()
{
    // The manual in the current folder (the program's folder when started from its
    // own folder), else the copy installed with the program.
    const QFileInfo here(QString::fromLatin1(manualFileName));
    const QFileInfo beside(installLayout().manualDir + QLatin1Char('/') + QString::fromLatin1(manualFileName));
    if (here.isFile())
        platform_.opener->open(here.absoluteFilePath());
    else if (beside.isFile())
        platform_.opener->open(beside.absoluteFilePath());
}

void frmMain::mnuAbout_Click()
{
    frmAbout about;
    about.Form_Load();
    about.exec();
}

void frmMain::mnuOptions_Click()
{
    frmOptions options(platform_, m_TitleText, this);
    options.Form_Load();
    options.exec();
}
