#include "config/modDLG.h"
#include "support/FailedSteps.h"
#include "support/FakePlatform.h"
#include "support/TestFolder.h"

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>
#include <gtest/gtest.h>

namespace {

const QString configFilter = "QuorlinVCP Config File (*.qlc)|*.qlc|All files (*.*)|*.*";

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

TEST(ModDlg, ChosenFileComesBackWithItsPair)
{
    FakeFileDialogs dialogs;
    dialogs.pick("/home/u/lab.qlc");
    OpenDialogRequest request;
    request.filter = configFilter;
    request.initialDir = "/home/u/";
    request.title = "Load Configuration File";
    request.fileMustExist = true;
    FailedSteps<DialogStep> failed;
    const DialogResult chosen = OpenDialog(dialogs, request, failed.sink());
    ASSERT_TRUE(chosen.chosen);
    EXPECT_EQ(chosen.fileName, "/home/u/lab.qlc");
    EXPECT_EQ(chosen.fileTitle, "lab.qlc");
    EXPECT_EQ(chosen.filter, QString("QuorlinVCP Config File (*.qlc)") + QChar(0) + "*.qlc");
    EXPECT_TRUE(failed.list.empty());
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

TEST(ModDlg, CancelChoosesNothingAndAnOverlongNameFailsItsStepBeforeAnyDialog)
{
    FakeFileDialogs dialogs;
    dialogs.cancel();
    SaveDialogRequest request;
    request.fileName = "/home/u/Untitled.qlc";
    request.filter = configFilter;
    request.defaultExt = "qlc";
    request.overwritePrompt = true;
    FailedSteps<DialogStep> failed;
    const DialogResult cancelled = SaveDialog(dialogs, request, failed.sink());
    EXPECT_FALSE(cancelled.chosen);
    EXPECT_EQ(cancelled.fileName, "");
    EXPECT_EQ(cancelled.filter, "");
    EXPECT_TRUE(dialogs.requests.at(0).save);
    EXPECT_TRUE(dialogs.requests.at(0).overwritePrompt);
    EXPECT_EQ(dialogs.requests.at(0).defaultExt, "qlc");
    EXPECT_TRUE(failed.list.empty());

    request.fileName = "/" + QString(static_cast<int>(dialogBufferLength()), 'x');
    EXPECT_FALSE(SaveDialog(dialogs, request, failed.sink()).chosen);
    EXPECT_EQ(dialogs.requests.size(), 1);  // no dialog shown
    ASSERT_EQ(failed.list.size(), 1u);
    EXPECT_EQ(failed.list[0].first, DialogStep::SaveCheckName);
    EXPECT_EQ(failed.list[0].second, (StepFailure{5, "Invalid procedure call or argument"}));
}

}  // namespace
