#include "redirect/ComboText.h"

#include "app/RuntimeError.h"

void selectText(QComboBox* box, const QString& text)
{
    const int index = box->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index < 0)
        throw RuntimeError(ErrorCode::TextReadOnly);
    box->setCurrentIndex(index);
}

void selectIndex(QComboBox* box, std::int16_t index)
{
    if (index < -1 || index >= box->count())
        throw RuntimeError(ErrorCode::InvalidPropertyValue);
    box->setCurrentIndex(index);
}
