// The start-up entry: where the registry's Run key stood, an XDG autostart entry.
// A "key path" is a folder and a "value name" the entry's name: the value
// "QuorlinVCP" under the Run key is the file QuorlinVCP.desktop in the machine-wide
// autostart folder, and the value's text is the command in its Exec line.
#pragma once

#include <QString>
#include <cstdint>
#include <optional>
#include <variant>

namespace regType {
inline constexpr int sz = 1;     // text
inline constexpr int dword = 4;  // 32-bit number
}  // namespace regType

// The machine-wide autostart folder: the first folder of $XDG_CONFIG_DIRS
// (default /etc/xdg) followed by "/autostart".
QString runKeyPath();
// The user's own autostart folder: $XDG_CONFIG_HOME (default ~/.config; a relative
// value is ignored) followed by "/autostart". The desktop reads it before the
// machine-wide one, and an entry there replaces one of the same name.
QString userRunKeyPath();

using RegValue = std::variant<QString, std::uint32_t>;

// The entry's program path as text; "" when there is none.
QString ReadRegValue(const QString& keyPath, const QString& valueName);
// 0 on success, else an error code (-1 for an entry of another kind); value set on success.
int ReadRegValueOfKey(const QString& keyPath, const QString& valueName, std::optional<RegValue>& value);
void WriteRegValue(const QString& keyPath, const QString& valueName, const RegValue& value, int type);
int WriteRegValueOfKey(const QString& keyPath, const QString& valueName, int type, const RegValue& value);
void DeleteRegValue(const QString& keyPath, const QString& valueName);

// The entry file that holds a value: "<key path>/<value name>.desktop".
QString regValueFile(const QString& keyPath, const QString& valueName);

// A program path as the Exec key of a desktop entry must hold it: quoted when it
// has characters the rules reserve, with the escapes both levels of the rules ask for
// (a TAB is written as the file's "\t" escape).
QString desktopExecValue(const QString& programPath);
// The program path back from an Exec value written that way.
QString programFromExecValue(const QString& exec);
