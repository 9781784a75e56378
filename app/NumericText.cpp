#include "app/NumericText.h"

#include "app/RuntimeError.h"

#include <charconv>
#include <cmath>
#include <string>

namespace {

enum class Blanks { Leading, Anywhere };

bool isBlank(QChar c, Blanks mode)
{
    if (c == QLatin1Char(' ') || c == QLatin1Char('\t'))
        return true;
    return mode == Blanks::Anywhere && c == QLatin1Char('\n');
}

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// Reads the number at the start of text into its plain ASCII spelling; `end` is set
// to the index after the last character that belongs to it (blanks included).
std::string scanNumber(const QString& text, Blanks mode, qsizetype& end)
{
    qsizetype i = 0;
    auto skip = [&](bool always) {
        while (i < text.size() && (always || mode == Blanks::Anywhere) && isBlank(text[i], mode))
            ++i;
    };
    auto digits = [&](std::string& out) {
        bool any = false;
        for (skip(false); i < text.size() && isDigit(text[i]); skip(false)) {
            out += static_cast<char>(text[i].unicode());
            ++i;
            any = true;
        }
        return any;
    };

    std::string spelled;
    skip(true);
    if (i < text.size() && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
        if (text[i] == QLatin1Char('-'))
            spelled += '-';
        ++i;
    }
    bool mantissa = digits(spelled);
    if (i < text.size() && text[i] == QLatin1Char('.')) {
        ++i;
        std::string fraction;
        if (digits(fraction) || mantissa) {
            spelled += '.' + fraction + (fraction.empty() ? "0" : "");
            mantissa = true;
        }
    }
    if (!mantissa) {
        end = 0;
        return {};
    }
    end = i;
    if (i < text.size() && (text[i] == QLatin1Char('e') || text[i] == QLatin1Char('E'))) {
        qsizetype save = i++;
        std::string exponent = "e";
        skip(false);
        if (i < text.size() && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-')))
            exponent += static_cast<char>(text[i++].unicode());
        if (digits(exponent)) {
            spelled += exponent;
            end = i;
        } else {
            i = save;
        }
    }
    return spelled;
}

double toDouble(const std::string& spelled)
{
    if (spelled.empty())
        return 0.0;
    double value = 0.0;
    const auto [ptr, ec] = std::from_chars(spelled.data(), spelled.data() + spelled.size(), value);
    (void)ptr;
    if (ec == std::errc::result_out_of_range) {
        // from_chars reports underflow the same way; a tiny value is simply 0.
        const auto e = spelled.find('e');
        if (e != std::string::npos && spelled[e + 1] == '-')
            return 0.0;
        throw RuntimeError(ErrorCode::Overflow);
    }
    return value;
}

double roundHalfEven(double value)
{
    return std::nearbyint(value);  // the default rounding mode rounds halves to even
}

}  // namespace

double numericValue(const QString& text)
{
    qsizetype end = 0;
    return toDouble(scanNumber(text, Blanks::Anywhere, end));
}

double leadingNumber(const QString& text)
{
    qsizetype end = 0;
    return toDouble(scanNumber(text, Blanks::Leading, end));
}

QString numericText(double value)
{
    if (value == 0.0)
        return QStringLiteral("0");  // also for -0
    char buffer[400];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    if (ec != std::errc())
        return QString::number(value, 'g', 17);
    return QString::fromLatin1(buffer, end - buffer);
}

std::uint8_t toByte(double value)
{
    const double rounded = roundHalfEven(value);
    if (!(rounded >= 0.0 && rounded <= 255.0))
        throw RuntimeError(ErrorCode::Overflow);
    return static_cast<std::uint8_t>(rounded);
}

std::int16_t toInt16(double value)
{
    const double rounded = roundHalfEven(value);
    if (!(rounded >= -32768.0 && rounded <= 32767.0))
        throw RuntimeError(ErrorCode::Overflow);
    return static_cast<std::int16_t>(rounded);
}

std::int16_t toInt16(const QString& text)
{
    qsizetype end = 0;
    const std::string spelled = scanNumber(text, Blanks::Leading, end);
    if (spelled.empty())
        throw RuntimeError(ErrorCode::TypeMismatch);
    for (qsizetype i = end; i < text.size(); ++i) {
        if (!isBlank(text[i], Blanks::Leading))
            throw RuntimeError(ErrorCode::TypeMismatch);
    }
    return toInt16(toDouble(spelled));
}
