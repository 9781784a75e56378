#include "redirect/InitStrings.h"
#include "app/RuntimeError.h"

#include <gtest/gtest.h>

using namespace redirect;

namespace {

QString defaultsClient(const QString& host = "10.0.0.7")
{
    return buildTcpClientInit(host, "3001", comPortNumber("COM5"), "19200", 0, "8", "1", 0, "0");
}

TEST(ComPortNumber, UpperCasesAndRemovesEveryCom)
{
    EXPECT_EQ(buildConnectorInit(comPortNumber("COM5")), "5;0");
    EXPECT_EQ(buildConnectorInit(comPortNumber("com5")), "5;0");
    EXPECT_EQ(buildConnectorInit(comPortNumber("COMCOM5")), "5;0");
    EXPECT_EQ(buildConnectorInit(comPortNumber("COM10")), "10;0");
    EXPECT_EQ(comPortNumber("7"), "7");
    EXPECT_EQ(buildConnectorInit(comPortNumber("")), ";0");
    EXPECT_EQ(comPortName("12"), "COM12");
}

TEST(TcpClientInit, DefaultsAndSelectionIndexes)
{
    EXPECT_EQ(defaultsClient(), "10.0.0.7;3001;5;19200,0,8,1,0,0;1;0;");
    EXPECT_EQ(buildTcpClientInit(" h ", " 23", "3", "921600", 1, "7", "2", 4, "250ms"),
              " h ; 23;3;921600,1,7,2,4,250;1;0;");
    EXPECT_EQ(buildTcpClientInit("h", "1", "3", "", -1, "8", "1", -1, ""), "h;1;3;,-1,8,1,-1,0;1;0;");
}

TEST(TcpClientInit, ReadTimeoutIsItsNumericValue)
{
    auto timeoutOf = [](const QString& text) {
        return field(splitFields(field(splitFields(buildTcpClientInit("h", "1", "5", "9600", 0, "8", "1", 0, text), ';'), 3), ','), 5);
    };
    EXPECT_EQ(timeoutOf(""), "0");
    EXPECT_EQ(timeoutOf("12abc"), "12");
    EXPECT_EQ(timeoutOf("abc"), "0");
    EXPECT_EQ(timeoutOf("1 500"), "1500");
    EXPECT_EQ(timeoutOf("2.5"), "2.5");
}

TEST(CombinedText, SplitsIntoNineFieldsAndItsSerialGroupIntoSix)
{
    const QStringList fields = splitFields(buildCombinedText(buildConnectorInit("5"), defaultsClient()), ';');
    ASSERT_EQ(fields.size(), 9);
    EXPECT_EQ(fields[0], "5");
    EXPECT_EQ(fields[2], "10.0.0.7");
    EXPECT_EQ(fields[3], "3001");
    EXPECT_EQ(fields[8], "");
    EXPECT_EQ(splitFields(fields[5], ',').size(), 6);
}

TEST(Splitting, KeepsEmptyFieldsAndReportsAMissingOne)
{
    EXPECT_EQ(splitFields(";;", ';').size(), 3);
    EXPECT_EQ(splitFields("", ';').size(), 1);
    // A ";" in the host shifts every later field; nothing stops it.
    EXPECT_EQ(splitFields(defaultsClient("a;b"), ';')[2], "3001");
    const QStringList two = splitFields("5;0", ';');
    try {
        field(two, 2);
        FAIL() << "a missing field must fail";
    } catch (const RuntimeError& error) {
        EXPECT_EQ(error.number(), 9);
        EXPECT_EQ(error.description(), "Subscript out of range");
    }
}

TEST(DeviceRecordAndPair, JoinIdsAndStrings)
{
    const QString record = buildDeviceRecord("3", "5;0", "4", defaultsClient());
    const QStringList texts = splitFields(record, recordSeparator);
    ASSERT_EQ(texts.size(), 4);
    EXPECT_EQ(texts[0], "3");
    EXPECT_EQ(texts[3], defaultsClient());
    EXPECT_EQ(record.count(QChar(8)), 3);
    EXPECT_EQ(buildDevicePair(texts[0], texts[2]), "3;4");
    EXPECT_EQ(newRedirectPair, "0");
    EXPECT_EQ(deviceIdForCommand(32767), 32767);
    EXPECT_THROW(deviceIdForCommand(32768), RuntimeError);
}

TEST(InitStrings, ADevicePairTextGivesBothIdsOrNoneForANewRedirect)
{
    EXPECT_EQ(devicePairFromText("3;4"), (DevicePair{3, 4}));
    EXPECT_EQ(devicePairFromText("40000;-2"), (DevicePair{40000, -2}));  // checked when the commands take them
    EXPECT_EQ(devicePairFromText(newRedirectPair), std::nullopt);
    EXPECT_THROW(devicePairFromText("3"), RuntimeError);
    EXPECT_THROW(devicePairFromText("3;x"), RuntimeError);
    EXPECT_EQ(deviceStringsOf("5;0;h;1;5;9600,0,8,1,0,0;1;0;"), (DeviceStrings{"5;0", "h;1;5;9600,0,8,1,0,0;1;0;"}));
    EXPECT_EQ(deviceStringsOf("5;0"), std::nullopt);
}

}  // namespace
