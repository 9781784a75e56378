// Numbers read from text and the conversions the program applies to them. Failures
// throw RuntimeError (Overflow, Type mismatch) into the caller's trap.
#pragma once

#include <QString>
#include <cstdint>

// The numeric value of a text: blanks (space, tab, line feed) are skipped wherever
// they stand, then a sign, digits, a decimal point with digits and an exponent are
// read up to the first character that does not fit; 0 when there is no number.
// "250ms" gives 250, "1 500" gives 1500. Overflow for a value beyond a double.
double numericValue(const QString& text);

// The plain decimal text of a value: "." as the point, no point when whole, no exponent.
QString numericText(double value);

// The leading-number parse of stored numbers: leading blanks skipped, the longest
// prefix that reads as a number taken; "" or a text without a leading number gives 0.
double leadingNumber(const QString& text);

// Conversion to an 8-bit unsigned value: rounded to the nearest integer, halves to
// even; Overflow outside 0..255.
std::uint8_t toByte(double value);

// Conversion to a 16-bit signed value, halves to even; Overflow outside -32768..32767.
std::int16_t toInt16(double value);

// The same conversion of a text, which must be a number as a whole (blanks around it
// allowed); Type mismatch otherwise.
std::int16_t toInt16(const QString& text);

// A 32-bit result read as a 16-bit value, the way a flag of the device library is read.
inline std::int16_t flag16(std::int32_t value)
{
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(value & 0xFFFF));
}
