// A small INI store with private-profile semantics: section and key names compared
// without regard to case, blanks around a value dropped, reads capped at 254
// characters, missing entries read as "". Written by hand because QSettings has
// case-sensitive keys and escapes values its own way, which the settings file must not.
#pragma once

#include <QString>

namespace ini {

inline constexpr int maxValueLength = 254;
// A settings file is a few hundred bytes; one larger than this, or one that is not
// a regular file (a FIFO, a folder), is refused at once: read as empty, never
// replaced by a write.
inline constexpr qint64 maxFileSize = 1 << 20;

// Why the file cannot be used ("not a regular file", "larger than 1 MiB", the
// system's message); "" when it can, or does not exist yet.
QString refusal(const QString& file);

// The value of key in section of the file; "" when the file, section or key is missing.
QString read(const QString& file, const QString& section, const QString& key);

// Stores value under key in section, creating the file, section or key as needed and
// replacing an old value; every other line of the file is kept byte for byte. The new
// file replaces the old one by rename, so a crash mid-write never leaves half a file.
// CR and LF are removed from section, key and value before writing, so a value can
// never start a line (a key or section) of its own. Returns false when the file
// cannot be written, is refused (see refusal()), or the names are unusable (empty key, "=" in a key, "]" in a section).
bool write(const QString& file, const QString& section, const QString& key, const QString& value);

}  // namespace ini
