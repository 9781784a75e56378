#include "windows/MonitorText.h"

namespace monitortext {

QString escaped(std::span<const std::uint8_t> bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    QString text;
    text.reserve(static_cast<qsizetype>(bytes.size()));
    for (const std::uint8_t b : bytes) {
        switch (b) {
        case '\r': text += QLatin1String("\\r"); break;
        case '\n': text += QLatin1String("\\n"); break;
        case '\t': text += QLatin1String("\\t"); break;
        case '\\': text += QLatin1String("\\\\"); break;
        default:
            if (b >= 0x20 && b < 0x7F) {
                text += QLatin1Char(static_cast<char>(b));
            } else {
                text += QLatin1String("\\x");
                text += QLatin1Char(digits[b >> 4]);
                text += QLatin1Char(digits[b & 15]);
            }
        }
    }
    return text;
}

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

QString eventText(const monitor::Entry& entry)
{
    using K = monitor::Entry::Kind;
    const QString text = QString::fromStdString(entry.text);
    switch (entry.kind) {
    case K::PortOpened: return QStringLiteral("a program opened the port");
    case K::PortClosed: return QStringLiteral("the program closed the port");
    case K::Connecting: return QStringLiteral("connecting to ") + text;
    case K::Connected: return QStringLiteral("connected to ") + text;
    case K::Dropped: return QStringLiteral("connection dropped: ") + text;
    case K::Lost: return text + QStringLiteral(" (the window did not keep up)");
    default: return text;  // a command sent or received, already in words
    }
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
