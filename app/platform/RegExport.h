// Reading the file Wine's `reg export` writes for one key: UTF-16 with a byte-order
// mark (or UTF-8 without one), a header line, the key in brackets, then one
// "name"=data line per value, long data continued on lines ending in "\".
#pragma once

#include "app/platform/WineRegistry.h"

#include <QByteArray>

namespace regexport {

// Larger exports are not read: the Ports key holds a few short values.
inline constexpr qsizetype maxFileSize = 1 << 20;

// The values of the first key in the file, names upper-cased; the values of its
// subkeys and lines that do not read as a value are skipped.
WineRegistry::Values valuesOfFirstKey(const QByteArray& file);

}  // namespace regexport
