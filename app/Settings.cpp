#include "app/Settings.h"

#include "app/IniStore.h"
#include "app/NumericText.h"
#include "app/platform/MessageBoxes.h"

QString ReadIni(const QString& section, const QString& key, const QString& file)
{
    return ini::read(file, section, key);
}

std::int16_t WriteIni(const QString& section, const QString& key, const QString& value, const QString& file)
{
    return ini::write(file, section, key, value) ? 1 : 0;
}

double ReadIniNumber(const QString& section, const QString& key, const QString& file)
{
    return leadingNumber(ReadIni(section, key, file));
}

QString ReadSetting(const ProgramState& state, const char* key)
{
    return ReadIni(QString::fromLatin1(settingsSection), QString::fromLatin1(key), state.settingsFile);
}

void WriteSetting(const ProgramState& state, const char* key, const QString& value)
{
    WriteIni(QString::fromLatin1(settingsSection), QString::fromLatin1(key), value, state.settingsFile);
}

double ReadSettingNumber(const ProgramState& state, const char* key)
{
    return leadingNumber(ReadSetting(state, key));
}

bool warnWhenSettingsUnusable(const ProgramState& state, MessageBoxes& messages)
{
    const QString why = ini::refusal(state.settingsFile);
    if (why.isEmpty())
        return false;
    messages.show({QStringLiteral("The settings file %1 is not used: %2.\n\nQuorlinVCP starts with its default "
                                  "settings and leaves the file as it is.")
                       .arg(state.settingsFile, why),
                   msgbox::Buttons::Ok, msgbox::Icon::Exclamation});
    return true;
}
