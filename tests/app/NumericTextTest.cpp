#include "app/NumericText.h"
#include "app/RuntimeError.h"

#include <gtest/gtest.h>

namespace {

int errorNumberOf(const std::function<void()>& statement)
{
    try {
        statement();
    } catch (const RuntimeError& error) {
        return error.number();
    }
    return 0;
}

TEST(NumericValue, ReadsTheLeadingNumberSkippingBlanksAnywhere)
{
    EXPECT_EQ(numericValue(""), 0.0);
    EXPECT_EQ(numericValue("250ms"), 250.0);
    EXPECT_EQ(numericValue("1 500"), 1500.0);
    EXPECT_EQ(numericValue("2.5"), 2.5);
    EXPECT_EQ(numericValue("12abc"), 12.0);
    EXPECT_EQ(numericValue("abc"), 0.0);
    EXPECT_EQ(numericValue(" \t\n-4"), -4.0);
    EXPECT_EQ(numericValue("1e3x"), 1000.0);
    EXPECT_EQ(numericValue("1e"), 1.0);
    EXPECT_EQ(numericValue(".5"), 0.5);
    EXPECT_EQ(numericValue("+"), 0.0);
    EXPECT_EQ(numericValue("1.2.3"), 1.2);
    EXPECT_EQ(numericValue("1e-999"), 0.0);
    EXPECT_EQ(errorNumberOf([] { numericValue("1e999"); }), 6);
}

TEST(NumericText, IsPlainDecimalWithoutPointWhenWhole)
{
    EXPECT_EQ(numericText(0), "0");
    EXPECT_EQ(numericText(-0.0), "0");
    EXPECT_EQ(numericText(1500), "1500");
    EXPECT_EQ(numericText(2.5), "2.5");
    EXPECT_EQ(numericText(-0.1), "-0.1");
    EXPECT_EQ(numericText(1e20), "100000000000000000000");
}

TEST(LeadingNumber, SkipsOnlyLeadingBlanks)
{
    EXPECT_EQ(leadingNumber(" 1"), 1.0);
    EXPECT_EQ(leadingNumber("1 5"), 1.0);
    EXPECT_EQ(leadingNumber("2"), 2.0);
    EXPECT_EQ(leadingNumber("yes"), 0.0);
    EXPECT_EQ(leadingNumber(""), 0.0);
    EXPECT_EQ(leadingNumber("300"), 300.0);
}

TEST(ToByte, RoundsHalvesToEvenAndFailsOutside0To255)
{
    EXPECT_EQ(toByte(0), 0);
    EXPECT_EQ(toByte(2), 2);
    EXPECT_EQ(toByte(1.5), 2);
    EXPECT_EQ(toByte(2.5), 2);
    EXPECT_EQ(toByte(254.5), 254);
    EXPECT_EQ(toByte(-0.5), 0);
    EXPECT_EQ(toByte(255.4), 255);
    EXPECT_EQ(errorNumberOf([] { toByte(255.5); }), 6);
    EXPECT_EQ(errorNumberOf([] { toByte(300); }), 6);
    EXPECT_EQ(errorNumberOf([] { toByte(-1); }), 6);
}

TEST(ToInt16, ConvertsIdTextWithBankersRoundingAndRangeCheck)
{
    EXPECT_EQ(toInt16(QStringLiteral("0")), 0);
    EXPECT_EQ(toInt16(QStringLiteral(" 12 ")), 12);
    EXPECT_EQ(toInt16(QStringLiteral("32767")), 32767);
    EXPECT_EQ(toInt16(QStringLiteral("-32768")), -32768);
    EXPECT_EQ(toInt16(QStringLiteral("2.5")), 2);
    EXPECT_EQ(toInt16(QStringLiteral("3.5")), 4);
    EXPECT_EQ(errorNumberOf([] { toInt16(QStringLiteral("32768")); }), 6);
    EXPECT_EQ(errorNumberOf([] { toInt16(QStringLiteral("-32769")); }), 6);
    EXPECT_EQ(errorNumberOf([] { toInt16(QStringLiteral("")); }), 13);
    EXPECT_EQ(errorNumberOf([] { toInt16(QStringLiteral("abc")); }), 13);
    EXPECT_EQ(errorNumberOf([] { toInt16(QStringLiteral("12abc")); }), 13);
    EXPECT_EQ(errorNumberOf([] { toInt16(QStringLiteral("1 2")); }), 13);
}

TEST(Flag16, KeepsOnlyTheLow16Bits)
{
    EXPECT_EQ(flag16(1), 1);
    EXPECT_EQ(flag16(0), 0);
    EXPECT_EQ(flag16(-1), -1);
    EXPECT_EQ(flag16(65536), 0);
    EXPECT_EQ(flag16(0x18000), -32768);
}

}  // namespace
