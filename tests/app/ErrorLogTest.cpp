#include "app/ErrorLog.h"
#include "support/TestFolder.h"

#include <QFile>
#include <gtest/gtest.h>

namespace {

const QByteArray heading = "QuorlinVCP v2.0.0 Error Log\r\n================================\r\n";

TEST(ErrorLog, FirstFailureWritesHeadingRuleAndDatedLineLaterOnesOneLine)
{
    TestFolder folder;
    LogError("Error 6 (Overflow) in procedure Form_Load of Form frmMain on line 60");
    EXPECT_EQ(folder.log(), heading + "12/06/2026 19:15 Error 6 (Overflow) in procedure Form_Load of Form frmMain on line 60\r\n");
    LogError("second");
    EXPECT_EQ(folder.log().count("\r\n"), 4);
    EXPECT_TRUE(folder.log().endsWith("\r\n12/06/2026 19:15 second\r\n"));
}

TEST(ErrorLog, EmptyFileGetsTheHeadingAgainButAFileWithTextDoesNot)
{
    TestFolder folder;
    writeFile(folder.logFile(), "");
    LogError("a");
    EXPECT_TRUE(folder.log().startsWith(heading));

    writeFile(folder.logFile(), "someone's text\r\n");
    LogError("b");
    EXPECT_EQ(folder.log(), "someone's text\r\n12/06/2026 19:15 b\r\n");
}

TEST(ErrorLog, TimestampHasMonthWithoutLeadingZeroAndTwoDigitDayHourMinute)
{
    EXPECT_EQ(errorlog::formatTimestamp(QDateTime(QDate(2026, 3, 5), QTime(9, 7))), "3/05/2026 09:07");
    EXPECT_EQ(errorlog::formatTimestamp(QDateTime(QDate(2026, 12, 31), QTime(23, 59))), "12/31/2026 23:59");
    EXPECT_EQ(errorlog::heading(), "QuorlinVCP v2.0.0 Error Log");
}

TEST(ErrorLog, UnwritableLogGoesToStandardError)
{
    TestFolder folder;
    errorlog::setLogFile(folder.path("missing-dir/ErrorLog.txt"));
    testing::internal::CaptureStderr();
    LogError("kept anyway");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "12/06/2026 19:15 kept anyway\r\n");
}

}  // namespace
