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

QString buildConnectorInit(const QString& comNumber)
{
    return comNumber + QStringLiteral(";0");
}

QString buildTcpClientInit(const QString& host, const QString& port, const QString& comNumber,
                           const QString& baud, std::int16_t dtrRtsIndex, const QString& dataBits,
                           const QString& stopBits, std::int16_t parityIndex, const QString& readTimeout)
{
    const QString serialGroup = QStringList{baud, QString::number(dtrRtsIndex), dataBits, stopBits,
                                            QString::number(parityIndex), numericText(numericValue(readTimeout))}
                                    .join(QLatin1Char(','));
    return QStringList{host, port, comNumber, serialGroup}.join(QLatin1Char(';')) + QStringLiteral(";1;0;");
}

QString connectorInitOf(const Redirect& redirect)
{
    return buildConnectorInit(redirect.comNumber);
}

QString tcpClientInitOf(const Redirect& redirect)
{
    return buildTcpClientInit(redirect.host, redirect.port, redirect.comNumber, redirect.baud,
                              static_cast<std::int16_t>(redirect.dtrRts.toInt()), redirect.dataBits, redirect.stopBits,
                              static_cast<std::int16_t>(redirect.parity.toInt()), redirect.readTimeout);
}

Redirect redirectFromCombinedText(const QString& combinedText)
{
    Redirect r;
    auto take = [&r](const QStringList& fields, qsizetype index, QString& into, Redirect::Field which) {
        if (index < fields.size())
            into = fields[index];
        else
            r.missing |= which;
    };
    const QStringList fields = splitFields(combinedText, QLatin1Char(';'));
    take(fields, 0, r.comNumber, Redirect::ComNumber);
    take(fields, 2, r.host, Redirect::Host);
    take(fields, 3, r.port, Redirect::Port);
    QString group;
    take(fields, 5, group, Redirect::SerialGroup);
    const QStringList serial = r.missing & Redirect::SerialGroup ? QStringList() : splitFields(group, QLatin1Char(','));
    take(serial, 0, r.baud, Redirect::Baud);
    take(serial, 1, r.dtrRts, Redirect::DtrRts);
    take(serial, 2, r.dataBits, Redirect::DataBits);
    take(serial, 3, r.stopBits, Redirect::StopBits);
    take(serial, 4, r.parity, Redirect::Parity);
    take(serial, 5, r.readTimeout, Redirect::ReadTimeout);
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

void Redirect::need(Field field) const
{
    if (missing & field)
        throw RuntimeError(ErrorCode::SubscriptOutOfRange);
}
