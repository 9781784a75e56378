#include "app/Trap.h"
#include "support/TestFolder.h"

#include <gtest/gtest.h>

namespace {

// An untrapped helper: its failure belongs to the statement that called it.
int failingHelper()
{
    throw RuntimeError(ErrorCode::SubscriptOutOfRange);
}

TEST(Trap, FailingStatementIsLoggedWithItsLineAndTheNextOneRuns)
{
    TestFolder folder;
    std::vector<int> ran;
    int value = 7;
    Trap trap("ScanAvailPairs");
    trap(10, [&] { ran.push_back(10); });
    trap(20, [&] { value = failingHelper(); ran.push_back(20); });
    trap(30, [&] { ran.push_back(30); });

    EXPECT_EQ(ran, (std::vector<int>{10, 30}));
    EXPECT_EQ(value, 7);  // what the failed statement was to set keeps its value
    EXPECT_TRUE(folder.log().endsWith(
        "12/06/2026 19:15 Error 9 (Subscript out of range) in procedure ScanAvailPairs of Form frmMain on line 20\r\n"));
    EXPECT_EQ(folder.log().count("\r\n"), 3);  // heading, rule, one failure
}

TEST(Trap, ForeignExceptionsAreReportedNotPropagated)
{
    TestFolder folder;
    Trap trap("Form_Load");
    EXPECT_FALSE(trap(40, [] { throw std::out_of_range("index 3"); }));
    EXPECT_TRUE(folder.log().contains("in procedure Form_Load of Form frmMain on line 40"));
    EXPECT_EQ(Trap("X").message(1, -5, "%1 odd"), "Error -5 (%1 odd) in procedure X of Form frmMain on line 1");
    EXPECT_EQ(Trap("Main", Trap::UnitKind::Module, "modMain").message(2, 7, "Out of memory"),
              "Error 7 (Out of memory) in procedure Main of Module modMain on line 2");
}

}  // namespace
