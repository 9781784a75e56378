// The key Wine's `reg export` writes, read back: what a user's own mappings can hold
// must come back exactly, or never compare equal to a port's path.
#include "app/platform/RegExport.h"

#include <QStringEncoder>
#include <gtest/gtest.h>

namespace {

QByteArray utf16File(const QString& text)
{
    QStringEncoder encoder(QStringEncoder::Utf16LE, QStringEncoder::Flag::WriteBom);
    return encoder(text);
}

TEST(RegExport, StringValuesComeBackExactlyAndOtherKindsAsTheirData)
{
    const QString file = QStringLiteral(
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\r\n"
        "\"COM12\"=\"/tmp/a b/c  d\\\"e\\\\f\"\r\n"
        "\"com13\"=hex(2):2f,00,78,00,2f,00,fc,00,\\\r\n"
        "  00,00\r\n"
        "\"COM14\"=\"/tmp/\u00fc/COM14\"\r\n"
        "@=\"default\"\r\n"
        "\"COM15\"=\"never closed\r\n"
        "\r\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports\\Sub]\r\n"
        "\"COM16\"=\"/dev/ttyS9\"\r\n");
    const WineRegistry::Values values = regexport::valuesOfFirstKey(utf16File(file));
    EXPECT_EQ(values, (WineRegistry::Values{{"COM12", "/tmp/a b/c  d\"e\\f"},
                                            {"COM13", "hex(2):2f,00,78,00,2f,00,fc,00,00,00"},
                                            {"COM14", QStringLiteral("/tmp/\u00fc/COM14")}}));
    // A file without a byte-order mark is UTF-8, as the older format writes it.
    EXPECT_EQ(regexport::valuesOfFirstKey(file.toUtf8()), values);
}

TEST(RegExport, EmptyOddOrOversizedFilesGiveNoValues)
{
    EXPECT_TRUE(regexport::valuesOfFirstKey({}).isEmpty());
    EXPECT_TRUE(regexport::valuesOfFirstKey("\xff\xfe\x41").isEmpty());  // half a character
    EXPECT_TRUE(regexport::valuesOfFirstKey("\"COM1\"=\"/dev/ttyS0\"\n").isEmpty());  // outside any key
    QByteArray huge = "[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\n\"COM1\"=\"";
    huge += QByteArray(regexport::maxFileSize, 'x') + "\"\n";
    EXPECT_TRUE(regexport::valuesOfFirstKey(huge).isEmpty());
}

}  // namespace
