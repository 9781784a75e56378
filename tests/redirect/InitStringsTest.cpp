#include "redirect/InitStrings.h"
#include "app/RuntimeError.h"

#include <gtest/gtest.h>

using namespace redirect;

namespace {

// The strings of a redirect with these box texts and choice positions, read as the editor reads its boxes.
Redirect fromBoxes(const QString& host, const QString& port, const QString& com, const QString& baud, int dtrRts,
                   const QString& bits, const QString& stop, int parity, const QString& timeout)
{
    Redirect r;
    r.host = host;
    r.port = tcpPortFrom(port);
    r.comNumber = comNumberFrom(com);
    r.baud = baudFrom(baud);
    r.dtrRts = onOffFrom(QString::number(dtrRts));
    r.dataBits = dataBitsFrom(bits);
    r.stopBits = stopBitsFrom(stop);
    r.parity = parityFrom(QString::number(parity));
    r.readTimeout = readTimeoutFrom(timeout);
    return r;
}

QString defaultsClient(const QString& host = "10.0.0.7")
{
    return tcpClientInitOf(fromBoxes(host, "3001", comPortNumber("COM5"), "19200", 0, "8", "1", 0, "0"));
}

QString connectorFromBox(const QString& comPortText)
{
    Redirect r;
    r.comNumber = comNumberFrom(comPortNumber(comPortText));
    return connectorInitOf(r);
}

TEST(ComPortNumber, UpperCasesAndRemovesEveryCom)
{
    EXPECT_EQ(connectorFromBox("COM5"), "5;0");
    EXPECT_EQ(connectorFromBox("com5"), "5;0");
    EXPECT_EQ(connectorFromBox("COMCOM5"), "5;0");
    EXPECT_EQ(connectorFromBox("COM10"), "10;0");
    EXPECT_EQ(comPortNumber("7"), "7");
    EXPECT_EQ(connectorFromBox(""), ";0");
    EXPECT_EQ(comPortName("12"), "COM12");
}

TEST(TcpClientInit, CarriesTheBoxesTextsTheChoicesPositionsAndTheTimeoutsNumericValue)
{
    EXPECT_EQ(defaultsClient(), "10.0.0.7;3001;5;19200,0,8,1,0,0;1;0;");
    const struct {
        Redirect redirect;
        const char* init;
    } cases[] = {
        {fromBoxes(" h ", " 23", "3", "921600", 1, "7", "2", 4, "250ms"), " h ; 23;3;921600,1,7,2,4,250;1;0;"},
        {fromBoxes("h", "1", "3", "", -1, "8", "1", -1, ""), "h;1;3;,-1,8,1,-1,0;1;0;"},
        {fromBoxes("h", "1", "5", "9600", 0, "8", "1", 0, "12abc"), "h;1;5;9600,0,8,1,0,12;1;0;"},
        {fromBoxes("h", "1", "5", "9600", 0, "8", "1", 0, "abc"), "h;1;5;9600,0,8,1,0,0;1;0;"},
        {fromBoxes("h", "1", "5", "9600", 0, "8", "1", 0, "1 500"), "h;1;5;9600,0,8,1,0,1500;1;0;"},
        {fromBoxes("h", "1", "5", "9600", 0, "8", "1", 0, "2.5"), "h;1;5;9600,0,8,1,0,2.5;1;0;"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(tcpClientInitOf(c.redirect), c.init);
}

#define PIN "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff"

TEST(TcpClientInit, WritesTheTlsFieldOnlyForTlsAndCarriesAnOddOneAsItStands)
{
    const vspdevices::TlsSettings tls{true, PIN, "/etc/a;b.pem", ""};
    Redirect secured = fromBoxes("h", "1", "5", "9600", 0, "8", "1", 0, "0");
    secured.tls = tls;
    EXPECT_EQ(tcpClientInitOf(secured), "h;1;5;9600,0,8,1,0,0;1;0;tls,pin=" PIN ",cert=/etc/a%3Bb.pem;");
    secured.tls = vspdevices::TlsSettings{};
    EXPECT_EQ(tcpClientInitOf(secured), "h;1;5;9600,0,8,1,0,0;1;0;");

    // Read back: the string again, and what the library reads from its TLS field
    // ("none" when it refuses it; "clear" without TLS).
    const struct {
        const char* field;  // the eighth field; "" for a seven-field string
        bool odd;
        const char* asked;
    } cases[] = {
        {"", false, "clear"},
        {"tls", false, "tls||"},
        {"tls,pin=" PIN ",cert=/c%3B%25,key=/k", false, "tls" PIN "|/c;%|/k"},
        {"tls,pin=00:11:22:33:44:55:66:77:88:99:AA:BB:CC:DD:EE:FF:00:11:22:33:44:55:66:77:88:99:aa:bb:cc:dd:ee:ff", true,
         "tls" PIN "||"},
        {"tls,key=/k,cert=/c", true, "tls|/c|/k"},  // another order
        {"tls,cert=/c%3b", true, "tls|/c;|"},       // a lower-case escape
        {"TLS", true, "none"},
        {"tls,cert=relative", true, "none"},
    };
    for (const auto& c : cases) {
        const QString init = QString("h;1;5;9600,0,8,1,0,0;1;0;") + c.field + (*c.field ? ";" : "");
        const Redirect r = redirectFromClientInit(init);
        EXPECT_EQ(tcpClientInitOf(r), init);
        EXPECT_EQ(!r.tls.value, c.odd) << c.field;
        const auto asked = tlsAskedFor(r.tls);
        const QString words = !asked           ? "none"
                              : !asked->enabled ? "clear"
                                                : QString::fromStdString("tls" + asked->pin + "|" + asked->certificateFile +
                                                                         "|" + asked->keyFile);
        EXPECT_EQ(words, c.asked) << c.field;
    }
}

TEST(TcpClientInit, PinsTheAdaptersCertificateInTheTlsFieldAlone)
{
    const QString colons = "00:11:22:33:44:55:66:77:88:99:AA:BB:CC:DD:EE:FF:00:11:22:33:44:55:66:77:88:99:AA:BB:CC:DD:EE:FF";
    const std::pair<QString, QString> cases[] = {
        {" h ;05;5;9600,0,8,1,0,0;1;0;tls,key=/k,cert=/c;", " h ;05;5;9600,0,8,1,0,0;1;0;tls,pin=" PIN ",cert=/c,key=/k;"},
        {"h;1;5;9600,0,8,1,0,0;1;0;tls,pin=" + QString(64, 'f') + ";", "h;1;5;9600,0,8,1,0,0;1;0;tls,pin=" PIN ";"},
        {"h;1;5;9600,0,8,1,0,0;1;0;", "none"},  // in the clear
        {"h;1;5;9600,0,8,1,0,0;1;0;TLS;", "none"},
    };
    for (const auto& [init, pinned] : cases)
        EXPECT_EQ(pinnedClientInit(init, colons).value_or("none"), pinned) << init.toStdString();
    EXPECT_EQ(pinnedClientInit("h;1;5;9600,0,8,1,0,0;1;0;tls;", "abc"), std::nullopt);
}

TEST(CombinedText, SplitsIntoNineFieldsAndItsSerialGroupIntoSix)
{
    const QStringList fields = splitFields(buildCombinedText("5;0", defaultsClient()), ';');
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
