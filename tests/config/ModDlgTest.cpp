#include "config/modDLG.h"
#include "support/FakePlatform.h"
#include "support/TestFolder.h"

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>
#include <gtest/gtest.h>

namespace {

const QString configFilter = "QuorlinVCP Config File (*.qlc)|*.qlc|All files (*.*)|*.*";

TEST(ModDlg, FlagsDropHookAndTemplateAndAddWhatTheCallerAsks)
{
    EXPECT_EQ(openDialogFlags(true, false, false, false, 0x80004 | 0x20 | 0x40), 0x80004 | 0x1000);
    EXPECT_EQ(openDialogFlags(false, true, true, true, 0), 0x200 | 0x1 | 0x4);
    EXPECT_EQ(saveDialogFlags(true, 0x80006 | 0x60), 0x80006);
    EXPECT_EQ(saveDialogFlags(false, 0), 0x4);  // hide read-only always
}

TEST(ModDlg, FilterSplitsAtBarsAndColonsAndLookupStaysInsideThePairs)
{
    const QString list = nulSeparatedFilter("A:*.a|B|*.b");
    EXPECT_EQ(list, QString("A") + QChar(0) + "*.a" + QChar(0) + "B" + QChar(0) + "*.b" + QChar(0) + QChar(0));
    EXPECT_EQ(FilterLookup(list, 1), QString("A") + QChar(0) + "*.a");
    EXPECT_EQ(FilterLookup(list, 2), QString("B") + QChar(0) + "*.b");
    EXPECT_EQ(FilterLookup(list, 0), "");
    EXPECT_EQ(FilterLookup(list, 3), "");
    EXPECT_EQ(FilterLookup("", 1), "");
    EXPECT_EQ(TrimAtNul(QString("abc") + QChar(0) + "def"), "abc");
    EXPECT_EQ(TrimAtNul("abc"), "abc");
}

TEST(ModDlg, ChosenFileComesBackWithItsPairAndFlags)
{
    FakeFileDialogs dialogs;
    dialogs.pick("/home/u/lab.qlc");
    QString name;
    QString title;
    QString filter = configFilter;
    std::int32_t index = 1;
    std::int32_t flags = 0x80004;
    bool readOnly = false;
    ASSERT_TRUE(OpenDialog(dialogs, name, title, true, false, readOnly, false, filter, index, "/home/u/",
                           "Load Configuration File", "", -1, flags));
    EXPECT_EQ(name, "/home/u/lab.qlc");
    EXPECT_EQ(title, "lab.qlc");
    EXPECT_EQ(filter, QString("QuorlinVCP Config File (*.qlc)") + QChar(0) + "*.qlc");
    EXPECT_EQ(flags, 0x80004 | 0x1000);
    const FileDialogRequest& shown = dialogs.requests.at(0);
    EXPECT_EQ(shown.title, "Load Configuration File");
    EXPECT_EQ(shown.initialDir, "/home/u/");
    EXPECT_TRUE(shown.mustExist);
    ASSERT_EQ(shown.filters.size(), 2);
    EXPECT_EQ(shown.filters[1].second, "*.*");
    EXPECT_EQ(QtFileDialogs::qtFilter(shown.filters[0]), "QuorlinVCP Config File (*.qlc)");
    EXPECT_EQ(QtFileDialogs::qtFilter({"Logs", "*.log;*.txt"}), "Logs (*.log *.txt)");
}

TEST(ModDlg, AllFilesShowsFilesWithoutAnExtensionUnderTheTextTheUserKnows)
{
    TestFolder folder;
    for (const char* name : {"lab.qlc", "README", "notes.txt"})
        writeFile(folder.path(name), "x");
    FileDialogRequest request;
    request.filters = {{"QuorlinVCP Config File (*.qlc)", "*.qlc"}, {"All files (*.*)", "*.*"}, {"Logs", "*.log;*.txt"}};
    request.filterIndex = 2;
    request.initialDir = folder.path("");
    QFileDialog dialog;
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    QtFileDialogs::prepare(dialog, request);

    const auto* types = dialog.findChild<QComboBox*>("fileTypeCombo");
    ASSERT_NE(types, nullptr);
    QStringList shown;
    for (int i = 0; i < types->count(); ++i)
        shown << types->itemText(i);
    EXPECT_EQ(shown, QStringList({"QuorlinVCP Config File (*.qlc)", "All files (*.*)", "Logs (*.log *.txt)"}));
    // The chosen pair is found again among the filters Qt was given.
    EXPECT_EQ(QtFileDialogs::chosenFilterIndex(dialog, request), 2);

    // What the chooser's list holds: the patterns Qt took, matched by Qt.
    const auto* model = dialog.findChild<QFileSystemModel*>();
    ASSERT_NE(model, nullptr);
    const auto listed = [&] {
        return QDir(folder.path("")).entryList(model->nameFilters(), QDir::Files, QDir::Name);
    };
    EXPECT_EQ(listed(), QStringList({"README", "lab.qlc", "notes.txt"}));
    dialog.selectNameFilter(dialog.nameFilters().at(0));
    EXPECT_EQ(listed(), QStringList({"lab.qlc"}));
    EXPECT_EQ(QtFileDialogs::chosenFilterIndex(dialog, request), 1);
}

TEST(ModDlg, CancelEmptiesTheOutputsAndAnOverlongNameFailsBeforeAnyDialog)
{
    TestFolder folder;
    FakeFileDialogs dialogs;
    dialogs.cancel();
    QString name = "/home/u/Untitled.qlc";
    QString title = "x";
    QString filter = configFilter;
    std::int32_t index = 1;
    std::int32_t flags = 0x80006;
    EXPECT_FALSE(SaveDialog(dialogs, name, title, true, filter, index, "/home/u", "Save Configuration File", "qlc", -1, flags));
    EXPECT_EQ(name, "");
    EXPECT_EQ(title, "");
    EXPECT_EQ(filter, "");
    EXPECT_EQ(flags, 0);
    EXPECT_TRUE(dialogs.requests.at(0).overwritePrompt);
    EXPECT_EQ(dialogs.requests.at(0).defaultExt, "qlc");

    name = "/" + QString(static_cast<int>(dialogBufferLength()), 'x');
    filter = configFilter;
    flags = 7;
    EXPECT_FALSE(SaveDialog(dialogs, name, title, true, filter, index, "/", "Save", "qlc", -1, flags));
    EXPECT_EQ(dialogs.requests.size(), 1);  // no dialog shown
    EXPECT_EQ(flags, 7);                    // outputs left as they were
    EXPECT_EQ(filter, configFilter);
    EXPECT_TRUE(folder.log().contains(
        "Error 5 (Invalid procedure call or argument) in procedure SaveDialog of Module modDLG on line 10"));
}

}  // namespace
