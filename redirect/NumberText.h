// Whether a text is a number as the editor's numeric boxes accept it: apart from
// leading and trailing blanks, an optional sign, digits with an optional decimal
// point, and an optional exponent. The empty text is not a number.
#pragma once

#include <QString>

bool isNumberText(const QString& text);
