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

std::int16_t deviceIdFromText(const QString& text)
{
    return toInt16(text);
}

}  // namespace redirect
