#include "windows/MonitorText.h"

namespace monitortext {

QString hex(std::span<const std::uint8_t> bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    QString text;
    text.reserve(static_cast<qsizetype>(bytes.size() * 3));
    for (const std::uint8_t b : bytes) {
        if (!text.isEmpty())
            text += QLatin1Char(' ');
        text += QLatin1Char(digits[b >> 4]);
        text += QLatin1Char(digits[b & 15]);
    }
    return text;
}

QString settingsText(const vsp::monitor::PortState& state)
{
    static const char parities[] = "NOEMS";
    const QString stop = state.stopBits == 3 ? QStringLiteral("1.5") : QString::number(state.stopBits);
    const QString flow = state.flow == vsp::monitor::flowHardware  ? QStringLiteral("RTS/CTS flow control")
                         : state.flow == vsp::monitor::flowXonXoff ? QStringLiteral("XON/XOFF flow control")
                                                                   : QStringLiteral("no flow control");
    return QStringLiteral("%1 %2%3%4, %5")
        .arg(state.baud)
        .arg(state.dataBits)
        .arg(QLatin1Char(parities[state.parity < 5 ? state.parity : 0]))
        .arg(stop, flow);
}

}  // namespace monitortext
