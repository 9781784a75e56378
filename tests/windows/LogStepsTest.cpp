#include "windows/LogSteps.h"
#include "support/FakePlatform.h"
#include "support/TestFolder.h"

#include <gtest/gtest.h>

namespace {

// Every step of every layer beneath the windows, failed in the order of its enum.
template <class Step>
void failEvery(Step last)
{
    const StepSink<Step> sink = logSteps<Step>();
    for (int s = 0; s <= static_cast<int>(last); ++s)
        sink(static_cast<Step>(s), {9, "Subscript out of range"});
}

// The lines users and support know from ErrorLog.txt: each step keeps its handler,
// its unit and its line.
TEST(LogSteps, EveryLowerLayerStepIsLoggedUnderItsHandlerAndLine)
{
    TestFolder folder;
    // A name longer than the dialogs take fails their first step, before any chooser.
    FakeFileDialogs dialogs;
    OpenDialogRequest open;
    open.fileName = "/" + QString(static_cast<int>(dialogBufferLength()), 'x');
    SaveDialogRequest save;
    save.fileName = open.fileName;
    EXPECT_FALSE(OpenDialog(dialogs, open, logSteps<DialogStep>()).chosen);
    EXPECT_FALSE(SaveDialog(dialogs, save, logSteps<DialogStep>()).chosen);
    EXPECT_TRUE(dialogs.requests.isEmpty());

    failEvery(EditorStep::ReadTimeout);
    failEvery(ScanStep::ClaimByClient);
    failEvery(DialogStep::FilterLookup);
    failEvery(TrayStep::HideIcon);

    const struct {
        const char* where;
        std::vector<int> lines;
    } expected[] = {
        {"showPairProperties of Form frmMain", {10, 20, 30, 40, 50, 60, 70, 120, 130, 140, 150, 160, 170, 180, 190, 200, 210}},
        {"ScanAvailPairs of Form frmMain", {30, 40, 50, 60, 70, 80}},
        {"OpenDialog of Module modDLG", {10, 20}},
        {"SaveDialog of Module modDLG", {10, 20}},
        {"FilterLookup of Module modDLG", {10}},
        {"TrayIcon of Module modSysTrayIcon", {10, 20, 30}},
    };
    QByteArray lines = "12/06/2026 19:15 Error 5 (Invalid procedure call or argument) in procedure OpenDialog of Module modDLG on line 10\r\n"
                       "12/06/2026 19:15 Error 5 (Invalid procedure call or argument) in procedure SaveDialog of Module modDLG on line 10\r\n";
    for (const auto& handler : expected)
        for (int line : handler.lines)
            lines += QString("12/06/2026 19:15 Error 9 (Subscript out of range) in procedure %1 on line %2\r\n")
                         .arg(handler.where)
                         .arg(line)
                         .toUtf8();
    EXPECT_TRUE(folder.log().endsWith(lines)) << folder.log().toStdString();
    EXPECT_EQ(folder.log().count("\r\n"), 2 + lines.count("\r\n"));  // heading, rule, one line per step
}

}  // namespace
