#include "app/platform/RegExport.h"

#include <QStringList>

namespace regexport {

namespace {

QString decode(const QByteArray& file)
{
    if (file.startsWith("\xff\xfe")) {
        const QByteArray body = file.mid(2);
        return QString::fromUtf16(reinterpret_cast<const char16_t*>(body.constData()), body.size() / 2);
    }
    return QString::fromUtf8(file);
}

// The quoted text that starts at `at` (on its opening quote), escapes undone; `at`
// ends past the closing quote. None when the quote is never closed.
std::optional<QString> quoted(const QString& line, qsizetype& at)
{
    QString text;
    for (++at; at < line.size(); ++at) {
        const QChar c = line[at];
        if (c == u'"') {
            ++at;
            return text;
        }
        if (c == u'\\' && at + 1 < line.size()) {
            const QChar next = line[++at];
            text += next == u'n' ? QChar(u'\n') : next;
        } else {
            text += c;
        }
    }
    return std::nullopt;
}

}  // namespace

WineRegistry::Values valuesOfFirstKey(const QByteArray& file)
{
    WineRegistry::Values values;
    if (file.size() > maxFileSize)
        return values;
    const QStringList lines = decode(file).split(u'\n');
    int keys = 0;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QString line = lines[i].trimmed();
        while (line.endsWith(u'\\') && i + 1 < lines.size())
            line = line.chopped(1) + lines[++i].trimmed();
        if (line.startsWith(u'[')) {
            ++keys;
            continue;
        }
        if (keys != 1 || !line.startsWith(u'"'))
            continue;
        qsizetype at = 0;
        const std::optional<QString> name = quoted(line, at);
        if (!name || at >= line.size() || line[at] != u'=')
            continue;
        ++at;
        if (at < line.size() && line[at] == u'"') {
            if (const std::optional<QString> text = quoted(line, at))
                values.insert(name->toUpper(), *text);
        } else {
            values.insert(name->toUpper(), line.mid(at));
        }
    }
    return values;
}

}  // namespace regexport
