// A small INI store with private-profile semantics: section and key names compared
// without regard to case, blanks around a value dropped, reads capped at 254
// characters, missing entries read as "". Written by hand because QSettings has
// case-sensitive keys and escapes values its own way, which the settings file must not.
#pragma once

#include <QString>

namespace ini {

inline constexpr int maxValueLength = 254;

// The value of key in section of the file; "" when the file, section or key is missing.
QString read(const QString& file, const QString& section, const QString& key);

// Stores value under key in section, creating the file, section or key as needed and
// replacing an old value; every other line of the file is kept byte for byte. The new
// file replaces the old one by rename, so a crash mid-write never leaves half a file.
// CR and LF are removed from section, key and value before writing, so a value can
// never start a line (a key or section) of its own. Returns false when the file
// cannot be written or the names are unusable (empty key, "=" in a key, "]" in a section).
bool write(const QString& file, const QString& section, const QString& key, const QString& value);

}  // namespace ini
