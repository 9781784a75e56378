#include "redirect/InitStrings.h"

#include "app/NumericText.h"
#include "app/RuntimeError.h"

namespace redirect {

QString comPortNumber(const QString& comPortText)
{
    return comPortText.toUpper().remove(QStringLiteral("COM"), Qt::CaseSensitive);
}

QString comPortName(const QString& comNumber)
{
    return QStringLiteral("COM") + comNumber;
}

QString connectorInitOf(const Redirect& redirect)
{
    return redirect.comNumber.text() + QStringLiteral(";0");
}

QString tcpClientInitOf(const Redirect& r)
{
    // An odd timeout text ("250ms") goes in as the number it starts with.
    const QString timeout = r.readTimeout.value ? r.readTimeout.text() : numericText(numericValue(r.readTimeout.oddText));
    const QString serialGroup = QStringList{r.baud.text(),     r.dtrRts.text(), r.dataBits.text(),
                                            r.stopBits.text(), r.parity.text(), timeout}
                                    .join(QLatin1Char(','));
    // The TLS field only when there is one: a redirect in the clear keeps its seven fields.
    const QString tls = r.tls.text();
    return QStringList{r.host, r.port.text(), r.comNumber.text(), serialGroup}.join(QLatin1Char(';')) +
           QStringLiteral(";1;0;") + (tls.isEmpty() ? QString() : tls + QLatin1Char(';'));
}

namespace {

template <typename T, typename Rule>
Setting<T> settingFrom(const QString& text, Rule libraryRule)
{
    const auto value = libraryRule(text.toStdString());
    if (value && spelled(static_cast<T>(*value)) == text)
        return Setting<T>(static_cast<T>(*value));
    return Setting<T>::odd(text);
}

// The fields of a TcpClient string from `first` on, each where it stands.
void takeClientFields(Redirect& r, const QStringList& fields, qsizetype first, bool withComNumber)
{
    auto take = [&r](const QStringList& from, qsizetype index, Redirect::Field which, auto read) {
        if (index < from.size())
            read(from[index]);
        else
            r.missing |= which;
    };
    take(fields, first, Redirect::Host, [&](const QString& text) { r.host = text; });
    take(fields, first + 1, Redirect::Port, [&](const QString& text) { r.port = tcpPortFrom(text); });
    if (withComNumber)
        take(fields, first + 2, Redirect::ComNumber, [&](const QString& text) { r.comNumber = comNumberFrom(text); });
    QStringList serial;  // none when the group is missing: then so is each of its fields
    take(fields, first + 3, Redirect::SerialGroup, [&](const QString& text) { serial = splitFields(text, QLatin1Char(',')); });
    take(serial, 0, Redirect::Baud, [&](const QString& text) { r.baud = baudFrom(text); });
    take(serial, 1, Redirect::DtrRts, [&](const QString& text) { r.dtrRts = onOffFrom(text); });
    take(serial, 2, Redirect::DataBits, [&](const QString& text) { r.dataBits = dataBitsFrom(text); });
    take(serial, 3, Redirect::StopBits, [&](const QString& text) { r.stopBits = stopBitsFrom(text); });
    take(serial, 4, Redirect::Parity, [&](const QString& text) { r.parity = parityFrom(text); });
    take(serial, 5, Redirect::ReadTimeout, [&](const QString& text) { r.readTimeout = readTimeoutFrom(text); });
    // A string without the TLS field (seven fields, or one cut short) is in the clear.
    if (first + 6 < fields.size())
        r.tls = tlsFrom(fields[first + 6]);
}

}  // namespace

Setting<int> comNumberFrom(const QString& text)
{
    return settingFrom<int>(text, vspdevices::initstring::comNumber);
}

Setting<std::uint16_t> tcpPortFrom(const QString& text)
{
    return settingFrom<std::uint16_t>(text, vspdevices::initstring::tcpPort);
}

Setting<std::uint32_t> baudFrom(const QString& text)
{
    return settingFrom<std::uint32_t>(text, vspdevices::initstring::baud);
}

Setting<bool> onOffFrom(const QString& text)
{
    return settingFrom<bool>(text, vspdevices::initstring::onOff);
}

Setting<int> dataBitsFrom(const QString& text)
{
    return settingFrom<int>(text, vspdevices::initstring::dataBits);
}

Setting<int> stopBitsFrom(const QString& text)
{
    return settingFrom<int>(text, vspdevices::initstring::stopBits);
}

Setting<vspdevices::Parity> parityFrom(const QString& text)
{
    return settingFrom<vspdevices::Parity>(text, vspdevices::initstring::parity);
}

Setting<double> readTimeoutFrom(const QString& text)
{
    return settingFrom<double>(text, vspdevices::initstring::readTimeoutMs);
}

Setting<vspdevices::TlsSettings> tlsFrom(const QString& text)
{
    if (text.isEmpty())
        return vspdevices::TlsSettings{};
    return settingFrom<vspdevices::TlsSettings>(text, vspdevices::initstring::tls);
}

std::optional<vspdevices::TlsSettings> tlsAskedFor(const Setting<vspdevices::TlsSettings>& tls)
{
    if (tls.value)
        return tls.value;
    if (tls.oddText.isEmpty())
        return vspdevices::TlsSettings{};
    return vspdevices::initstring::tls(tls.oddText.toStdString());
}

std::optional<QString> pinnedClientInit(const QString& clientInit, const QString& fingerprint)
{
    QStringList fields = splitFields(clientInit, QLatin1Char(';'));
    const auto pin = vspdevices::initstring::fingerprint(fingerprint.toStdString());
    if (fields.size() != 8 || !pin)
        return std::nullopt;
    auto tls = vspdevices::initstring::tls(fields[6].toStdString());
    if (!tls)
        return std::nullopt;
    tls->pin = *pin;
    fields[6] = spelled(*tls);
    return fields.join(QLatin1Char(';'));
}

Redirect redirectFromCombinedText(const QString& combinedText)
{
    // Connector string, then the TcpClient's from the third field: its own COM number
    // is not read, the Connector's is the redirect's.
    Redirect r;
    const QStringList fields = splitFields(combinedText, QLatin1Char(';'));
    r.comNumber = comNumberFrom(fields[0]);  // a split has at least one field
    takeClientFields(r, fields, 2, false);
    return r;
}

Redirect redirectFromClientInit(const QString& clientInit)
{
    Redirect r;
    takeClientFields(r, splitFields(clientInit, QLatin1Char(';')), 0, true);
    return r;
}

Redirect redirectFromConnectorInit(const QString& connectorInit)
{
    Redirect r;
    r.comNumber = comNumberFrom(splitFields(connectorInit, QLatin1Char(';'))[0]);
    return r;
}

bool splitCombinedText(const QString& combinedText, QString& connectorInit, QString& clientInit)
{
    const QStringList fields = splitFields(combinedText, QLatin1Char(';'));
    if (fields.size() < 3)
        return false;
    connectorInit = fields.mid(0, 2).join(QLatin1Char(';'));
    clientInit = fields.mid(2).join(QLatin1Char(';'));
    return true;
}

QStringList splitFields(const QString& text, QChar separator)
{
    return text.split(separator, Qt::KeepEmptyParts);
}

const QString& field(const QStringList& fields, qsizetype index)
{
    if (index < 0 || index >= fields.size())
        throw RuntimeError(ErrorCode::SubscriptOutOfRange);
    return fields[index];
}

QString buildDeviceRecord(const QString& connectorId, const QString& connectorInit,
                          const QString& clientId, const QString& clientInit)
{
    return QStringList{connectorId, connectorInit, clientId, clientInit}.join(recordSeparator);
}

QString buildDevicePair(const QString& connectorId, const QString& clientId)
{
    return connectorId + QLatin1Char(';') + clientId;
}

QString buildCombinedText(const QString& connectorInit, const QString& clientInit)
{
    return connectorInit + QLatin1Char(';') + clientInit;
}

std::optional<DevicePair> devicePairFromText(const QString& devicePair)
{
    if (devicePair == newRedirectPair)
        return std::nullopt;
    const QStringList ids = splitFields(devicePair, QLatin1Char(';'));
    const auto id = [&](qsizetype index) {
        bool whole = false;
        const std::int32_t value = field(ids, index).toInt(&whole);
        if (!whole)
            throw RuntimeError(ErrorCode::TypeMismatch);
        return value;
    };
    return DevicePair{id(0), id(1)};
}

std::optional<DeviceStrings> deviceStringsOf(const QString& combinedText)
{
    DeviceStrings strings;
    if (!splitCombinedText(combinedText, strings.connectorInit, strings.clientInit))
        return std::nullopt;
    return strings;
}

std::int16_t deviceIdForCommand(std::int32_t id)
{
    return toInt16(static_cast<double>(id));
}

}  // namespace redirect

QString spelled(int value)
{
    return QString::number(value);
}

QString spelled(std::uint32_t value)
{
    return QString::number(value);
}

QString spelled(bool value)
{
    return value ? QStringLiteral("1") : QStringLiteral("0");
}

QString spelled(vspdevices::Parity value)
{
    return QString::number(static_cast<int>(value));
}

QString spelled(double value)
{
    return numericText(value);
}

QString spelled(const vspdevices::TlsSettings& value)
{
    return QString::fromStdString(vspdevices::initstring::tlsField(value));
}

void Redirect::need(Field field) const
{
    if (missing & field)
        throw RuntimeError(ErrorCode::SubscriptOutOfRange);
}
