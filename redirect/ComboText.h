// Selecting entries of the editor's drop-down lists, which only ever hold their
// entries: a text that no entry has, or an index outside them, is refused.
#pragma once

#include <QComboBox>
#include <cstdint>

// Selects the entry with exactly this text; "'Text' property is read-only" otherwise.
void selectText(QComboBox* box, const QString& text);
// Selects the entry at index (-1 for none); "Invalid property value" outside them.
void selectIndex(QComboBox* box, std::int16_t index);
