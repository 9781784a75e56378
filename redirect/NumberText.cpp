#include "redirect/NumberText.h"

#include <QRegularExpression>

bool isNumberText(const QString& text)
{
    static const QRegularExpression number(
        QStringLiteral(R"(^[ \t]*[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?[ \t]*$)"));
    return number.match(text).hasMatch();
}
