#include "app/IniStore.h"

#include "app/BoundedFile.h"

#include <QSaveFile>
#include <QStringList>

#include <optional>

namespace ini {
namespace {

bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

QString trimBlanks(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && (isBlank(text[end - 1]) || text[end - 1] == QLatin1Char('\r')))
        --end;
    return text.mid(begin, end - begin).toString();
}

// One line of the file as stored (with its "\r" when the file uses CR LF).
struct Line {
    QString raw;
    std::optional<QString> section;  // set on a "[name]" line
    std::optional<QString> key;      // set on a "key=value" line
    QString value;
};

Line parseLine(const QString& raw)
{
    Line line{raw, std::nullopt, std::nullopt, {}};
    const QString trimmed = trimBlanks(raw);
    if (trimmed.startsWith(QLatin1Char('['))) {
        const qsizetype close = trimmed.indexOf(QLatin1Char(']'));
        line.section = trimBlanks(QStringView(trimmed).mid(1, close < 0 ? -1 : close - 1));
        return line;
    }
    const qsizetype equals = trimmed.indexOf(QLatin1Char('='));
    if (equals > 0) {
        line.key = trimBlanks(QStringView(trimmed).left(equals));
        line.value = trimBlanks(QStringView(trimmed).mid(equals + 1));
    }
    return line;
}

bool sameName(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

struct Document {
    QList<Line> lines;
    bool endsWithNewline = true;
    QString newline = QStringLiteral("\n");
};

Document parse(const QByteArray& content)
{
    Document doc;
    const QString text = QString::fromUtf8(content);
    if (text.isEmpty())
        return doc;
    QStringList raws = text.split(QLatin1Char('\n'));
    doc.endsWithNewline = text.endsWith(QLatin1Char('\n'));
    if (doc.endsWithNewline)
        raws.removeLast();
    if (!raws.isEmpty() && raws.first().endsWith(QLatin1Char('\r')))
        doc.newline = QStringLiteral("\r\n");
    for (const QString& raw : raws)
        doc.lines.append(parseLine(raw));
    return doc;
}

QString withoutLineBreaks(QString text)
{
    text.remove(QLatin1Char('\r'));
    text.remove(QLatin1Char('\n'));
    return text;
}

}  // namespace

QString refusal(const QString& file)
{
    return readBoundedFile(file, maxFileSize).refusal;
}

QString read(const QString& file, const QString& section, const QString& key)
{
    const Document doc = parse(readBoundedFile(file, maxFileSize).content);
    bool inSection = false;
    for (const Line& line : doc.lines) {
        if (line.section) {
            inSection = sameName(*line.section, section);
        } else if (inSection && line.key && sameName(*line.key, key)) {
            QString value = line.value.left(maxValueLength);
            if (!value.isEmpty() && value.back().isHighSurrogate())
                value.chop(1);
            return value;
        }
    }
    return {};
}

bool write(const QString& file, const QString& section, const QString& key, const QString& value)
{
    const QString cleanSection = withoutLineBreaks(section).trimmed();
    const QString cleanKey = withoutLineBreaks(key).trimmed();
    if (cleanKey.isEmpty() || cleanKey.contains(QLatin1Char('=')) || cleanSection.contains(QLatin1Char(']')))
        return false;

    const BoundedRead old = readBoundedFile(file, maxFileSize);
    if (old.outcome == BoundedRead::Outcome::Refused)
        return false;
    Document doc = parse(old.content);
    const QString nl = doc.newline;
    const QString cr = nl.size() == 2 ? QStringLiteral("\r") : QString();
    const QString entry = cleanKey + QLatin1Char('=') + withoutLineBreaks(value);

    qsizetype sectionAt = -1;
    qsizetype insertAt = -1;  // after the section's last non-blank line
    qsizetype keyAt = -1;
    for (qsizetype i = 0; i < doc.lines.size() && keyAt < 0; ++i) {
        const Line& line = doc.lines[i];
        if (line.section) {
            if (sectionAt >= 0)
                break;
            if (sameName(*line.section, cleanSection))
                sectionAt = insertAt = i;
        } else if (sectionAt >= 0) {
            if (line.key && sameName(*line.key, cleanKey))
                keyAt = i;
            else if (!trimBlanks(line.raw).isEmpty())
                insertAt = i;
        }
    }

    if (keyAt >= 0) {
        doc.lines[keyAt].raw = entry + cr;
    } else if (sectionAt >= 0) {
        doc.lines.insert(insertAt + 1, Line{entry + cr, std::nullopt, std::nullopt, {}});
    } else {
        doc.lines.append(Line{QLatin1Char('[') + cleanSection + QLatin1Char(']') + cr, std::nullopt, std::nullopt, {}});
        doc.lines.append(Line{entry + cr, std::nullopt, std::nullopt, {}});
        doc.endsWithNewline = true;
    }

    QString text;
    for (qsizetype i = 0; i < doc.lines.size(); ++i) {
        text += doc.lines[i].raw;
        if (i + 1 < doc.lines.size() || doc.endsWithNewline || keyAt < 0)
            text += QLatin1Char('\n');
    }

    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    out.write(text.toUtf8());
    return out.commit();
}

}  // namespace ini
