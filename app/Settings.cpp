#include "app/Settings.h"

#include "app/IniStore.h"
#include "app/NumericText.h"
#include "app/platform/MessageBoxes.h"

QString g_SettingsFile;
std::uint8_t g_ScriptLoadOpt = 0;

QString ReadIni(const QString& section, const QString& key, const QString& file)
{
    return ini::read(file.isEmpty() ? g_SettingsFile : file, section, key);
}

std::int16_t WriteIni(const QString& section, const QString& key, const QString& value, const QString& file)
{
    return ini::write(file.isEmpty() ? g_SettingsFile : file, section, key, value) ? 1 : 0;
}

double ReadIniNumber(const QString& section, const QString& key, const QString& file)
{
    return leadingNumber(ReadIni(section, key, file));
}

QString ReadSetting(const char* key)
{
    return ReadIni(QString::fromLatin1(settingsSection), QString::fromLatin1(key));
}

void WriteSetting(const char* key, const QString& value)
{
    WriteIni(QString::fromLatin1(settingsSection), QString::fromLatin1(key), value);
}

bool warnWhenSettingsUnusable(MessageBoxes& messages)
{
    const QString why = ini::refusal(g_SettingsFile);
    if (why.isEmpty())
        return false;
    messages.show({QStringLiteral("The settings file %1 is not used: %2.\n\nQuorlinVCP starts with its default "
                                  "settings and leaves the file as it is.")
                       .arg(g_SettingsFile, why),
                   msgbox::Buttons::Ok, msgbox::Icon::Exclamation});
    return true;
}
