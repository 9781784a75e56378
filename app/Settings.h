// The settings file Settings.ini: its section and keys, and reading and writing them.
#pragma once

#include "app/ProgramState.h"

#include <QString>
#include <cstdint>

// The section that holds every setting, and its keys.
inline constexpr const char* settingsSection = "QuorlinVCP";
namespace settingsKey {
inline constexpr const char* LoadInSysTray = "LoadInSysTray";
inline constexpr const char* WarnInSysTray = "WarnInSysTray";
inline constexpr const char* ScriptLoadOPT = "ScriptLoadOPT";
inline constexpr const char* ScriptLoadLASTFILE = "ScriptLoadLASTFILE";
inline constexpr const char* ScriptLoadCONSTFILE = "ScriptLoadCONSTFILE";
// "0" keeps the running ports out of the Wine prefix; anything else, or nothing, lets them in.
inline constexpr const char* WineComPorts = "WineComPorts";
}  // namespace settingsKey

// The value of key in section of file; "" when missing, at most 254 characters.
QString ReadIni(const QString& section, const QString& key, const QString& file);

// Stores value; nonzero on success. No caller needs to check it.
std::int16_t WriteIni(const QString& section, const QString& key, const QString& value, const QString& file);

// A key of the program's own section in the program's settings file.
QString ReadSetting(const ProgramState& state, const char* key);
void WriteSetting(const ProgramState& state, const char* key, const QString& value);
// Its leading-number parse ("" reads as 0).
double ReadSettingNumber(const ProgramState& state, const char* key);

// When the settings file exists but cannot be used (not a regular file, too large),
// says so in a message box: the program goes on with its defaults and leaves the
// file as it is. Whether it said so.
bool warnWhenSettingsUnusable(const ProgramState& state, class MessageBoxes& messages);

// A stored number: the leading-number parse of the key's text ("" reads as 0).
double ReadIniNumber(const QString& section, const QString& key, const QString& file);
