#include "windows/frmAbout.h"
#include "support/MainWindowFixture.h"

#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QPushButton>

namespace {

class AboutAndHelp : public MainWindowFixture {};

TEST_F(AboutAndHelp, TheAboutBoxShowsTheVersionTheTitleShows)
{
    frmAbout about;
    about.Form_Load();
    EXPECT_EQ(about.windowTitle(), "About QuorlinVCP");
    EXPECT_EQ(about.lblTitle->text(), "QuorlinVCP");
    EXPECT_EQ(about.lblVersion->text(), "QuorlinVCP Version 2.0.0");
    window->Form_Load();
    EXPECT_TRUE(window->windowTitle().startsWith("QuorlinVCP v2.0.0 "));
    EXPECT_TRUE(about.lblCopyRight->text().startsWith("Copyright"));
    EXPECT_TRUE(about.lblDescription->text().contains("Telnet-to-serial adapter"));
    EXPECT_TRUE(about.cmdOK->isDefault());
    EXPECT_EQ(about.imgPic->pixmap().size(), QSize(115, 228));
    EXPECT_EQ(about.size(), QSize(400, 247));
}

TEST_F(AboutAndHelp, HelpOpensTheManualFromTheCurrentFolderElseNothingWhenAbsent)
{
    const QString saved = QDir::currentPath();
    QDir::setCurrent(folder.path(""));
    trigger("mnuViewHelp");
    const QString beside = QCoreApplication::applicationDirPath() + "/QV3Manual2008.pdf";
    if (QFile::exists(beside))
        EXPECT_EQ(fake.opener.opened, QStringList{beside});  // the copy installed beside the program
    else
        EXPECT_TRUE(fake.opener.opened.isEmpty());
    fake.opener.opened.clear();
    writeFile(folder.path("QV3Manual2008.pdf"), "%PDF-1.4");
    trigger("mnuViewHelp");
    EXPECT_EQ(fake.opener.opened, QStringList{folder.path("QV3Manual2008.pdf")});
    QDir::setCurrent(saved);
    EXPECT_TRUE(fake.messages.shown.isEmpty());
}

}  // namespace
