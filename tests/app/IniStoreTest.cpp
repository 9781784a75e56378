#include "app/IniStore.h"
#include "app/Settings.h"
#include "support/FakePlatform.h"
#include "support/TestFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <chrono>
#include <fcntl.h>
#include <future>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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

TEST_F(IniStoreTest, AFileThatIsNoRegularFileOrTooLargeIsRefusedAtOnceSaysWhyAndIsNeverReplaced)
{
    const QString fifo = folder.path("fifo.ini"), sparse = folder.path("sparse.ini"), dir = folder.path("dir.ini");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    writeFile(sparse, "[QuorlinVCP]\nA=1\n");
    ASSERT_EQ(::truncate(QFile::encodeName(sparse).constData(), off_t(1) << 30), 0);  // 1 GiB that takes no room
    ASSERT_TRUE(QDir().mkdir(dir));
    const struct {
        QString file;
        QString refusal;
    } cases[] = {{fifo, "not a regular file"}, {dir, "not a regular file"}, {sparse, "larger than 1 MiB"}};
    for (const auto& c : cases) {
        const auto before = std::chrono::steady_clock::now();
        auto used = std::async(std::launch::async, [&] {
            return ini::read(c.file, "QuorlinVCP", "A") + "|" + ini::refusal(c.file) + "|" +
                   (ini::write(c.file, "QuorlinVCP", "A", "2") ? "written" : "kept");
        });
        if (used.wait_for(std::chrono::seconds(2)) != std::future_status::ready) {
            ADD_FAILURE() << c.file.toStdString() << ": reading waits";
            ::close(::open(QFile::encodeName(c.file).constData(), O_WRONLY | O_NONBLOCK));  // lets a FIFO's reader go
        }
        EXPECT_EQ(used.get(), "|" + c.refusal + "|kept") << c.file.toStdString();
        EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(1)) << c.file.toStdString();
    }
    EXPECT_EQ(QFileInfo(sparse).size(), qint64(1) << 30);
    EXPECT_EQ(ini::refusal(folder.path("absent.ini")), QString());  // created by the first write

    // At start-up the user is told, once, and the program goes on with its defaults.
    FakeMessageBoxes messages;
    EXPECT_TRUE(warnWhenSettingsUnusable(ProgramState{fifo}, messages));
    EXPECT_FALSE(warnWhenSettingsUnusable(ProgramState{file}, messages));
    ASSERT_EQ(messages.texts().size(), 1);
    EXPECT_TRUE(messages.texts()[0].startsWith("The settings file " + fifo + " is not used: not a regular file."))
        << messages.texts()[0].toStdString();
}

TEST_F(IniStoreTest, SettingsDefaultToTheSettingsFileAndReadNumbers)
{
    EXPECT_EQ(WriteIni("QuorlinVCP", "LoadInSysTray", " 1", file), 1);
    EXPECT_EQ(ReadIniNumber("QuorlinVCP", "LoadInSysTray", file), 1.0);
    EXPECT_EQ(ReadIniNumber("QuorlinVCP", "Absent", file), 0.0);
    WriteIni("QuorlinVCP", "WarnInSysTray", "yes", file);
    EXPECT_EQ(ReadSettingNumber(ProgramState{file}, settingsKey::WarnInSysTray), 0.0);
}

}  // namespace
