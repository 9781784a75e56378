#include "app/IniStore.h"
#include "app/Settings.h"
#include "support/TestFolder.h"

#include <QDir>
#include <gtest/gtest.h>

namespace {

class IniStoreTest : public ::testing::Test {
protected:
    TestFolder folder;
    QString file = folder.path(QStringLiteral("Settings.ini"));
};

TEST_F(IniStoreTest, MissingFileSectionOrKeyReadsEmpty)
{
    EXPECT_EQ(ini::read(file, "QuorlinVCP", "LoadInSysTray"), QString());
    writeFile(file, "[Other]\nLoadInSysTray=1\n[QuorlinVCP]\nWarnInSysTray=1\n");
    EXPECT_EQ(ini::read(file, "QuorlinVCP", "LoadInSysTray"), QString());
    EXPECT_EQ(ini::read(file, "Missing", "WarnInSysTray"), QString());
}

TEST_F(IniStoreTest, NamesIgnoreCaseAndBlanksAroundValuesAreDropped)
{
    writeFile(file, "[quorlinvcp]\n  loadinsystray =  1 \t\nScriptLoadCONSTFILE=  /a b/c.qlc  \n");
    EXPECT_EQ(ini::read(file, "QuorlinVCP", "LoadInSysTray"), "1");
    EXPECT_EQ(ini::read(file, "QUORLINVCP", "scriptloadconstfile"), "/a b/c.qlc");
}

TEST_F(IniStoreTest, ReadIsCappedAt254Characters)
{
    const QString value(300, QLatin1Char('x'));
    ASSERT_TRUE(ini::write(file, "QuorlinVCP", "ScriptLoadCONSTFILE", value));
    EXPECT_EQ(ini::read(file, "QuorlinVCP", "ScriptLoadCONSTFILE"), value.left(254));
}

TEST_F(IniStoreTest, WriteCreatesFileSectionAndKeyAndReplacesOldValue)
{
    ASSERT_TRUE(ini::write(file, "QuorlinVCP", "ScriptLoadOPT", "1"));
    EXPECT_EQ(readFile(file), "[QuorlinVCP]\nScriptLoadOPT=1\n");
    ASSERT_TRUE(ini::write(file, "QuorlinVCP", "WarnInSysTray", "0"));
    ASSERT_TRUE(ini::write(file, "quorlinvcp", "scriptloadopt", "2"));
    EXPECT_EQ(ini::read(file, "QuorlinVCP", "ScriptLoadOPT"), "2");
    EXPECT_EQ(ini::read(file, "QuorlinVCP", "WarnInSysTray"), "0");
    EXPECT_EQ(readFile(file).count("criptloadopt=") + readFile(file).count("criptLoadOPT="), 1);
}

TEST_F(IniStoreTest, WriteKeepsEveryOtherLineAsItWas)
{
    const QByteArray before = "; kept comment\r\n[First]\r\nA = one \r\n\r\n[QuorlinVCP]\r\nLoadInSysTray=0\r\n"
                              "odd line without equals\r\n\r\n[Last]\r\nB=two\r\n";
    writeFile(file, before);
    ASSERT_TRUE(ini::write(file, "QuorlinVCP", "LoadInSysTray", "1"));
    ASSERT_TRUE(ini::write(file, "QuorlinVCP", "WarnInSysTray", "1"));
    QByteArray expected = before;
    expected.replace("LoadInSysTray=0\r\nodd line without equals\r\n",
                     "LoadInSysTray=1\r\nodd line without equals\r\nWarnInSysTray=1\r\n");
    EXPECT_EQ(readFile(file), expected);
    EXPECT_EQ(ini::read(file, "First", "A"), "one");
}

TEST_F(IniStoreTest, LineBreaksInAValueCannotInjectAKey)
{
    ASSERT_TRUE(ini::write(file, "QuorlinVCP", "ScriptLoadCONSTFILE", "/tmp/x.qlc\r\nLoadInSysTray=1\n[Evil]"));
    EXPECT_EQ(ini::read(file, "QuorlinVCP", "LoadInSysTray"), QString());
    EXPECT_EQ(ini::read(file, "QuorlinVCP", "ScriptLoadCONSTFILE"), "/tmp/x.qlcLoadInSysTray=1[Evil]");
    EXPECT_EQ(readFile(file).count('\n'), 2);
}

TEST_F(IniStoreTest, UnusableNamesAndUnwritableFilesFail)
{
    EXPECT_FALSE(ini::write(file, "QuorlinVCP", "", "1"));
    EXPECT_FALSE(ini::write(file, "QuorlinVCP", "a=b", "1"));
    EXPECT_FALSE(ini::write(file, "Quor]lin", "a", "1"));
    EXPECT_FALSE(ini::write(folder.path("no/such/dir/Settings.ini"), "QuorlinVCP", "a", "1"));
}

TEST_F(IniStoreTest, ReplacingTheFileLeavesNoTemporaryBehind)
{
    ASSERT_TRUE(ini::write(file, "QuorlinVCP", "A", "1"));
    ASSERT_TRUE(ini::write(file, "QuorlinVCP", "A", "2"));
    EXPECT_EQ(QDir(QFileInfo(file).absolutePath()).entryList(QDir::Files), QStringList{"Settings.ini"});
}

TEST_F(IniStoreTest, SettingsDefaultToTheSettingsFileAndReadNumbers)
{
    g_SettingsFile = file;
    EXPECT_EQ(WriteIni("QuorlinVCP", "LoadInSysTray", " 1"), 1);
    EXPECT_EQ(ReadIniNumber("QuorlinVCP", "LoadInSysTray"), 1.0);
    EXPECT_EQ(ReadIniNumber("QuorlinVCP", "Absent"), 0.0);
    WriteIni("QuorlinVCP", "WarnInSysTray", "yes");
    EXPECT_EQ(ReadIniNumber("QuorlinVCP", "WarnInSysTray"), 0.0);
    g_SettingsFile.clear();
}

}  // namespace
