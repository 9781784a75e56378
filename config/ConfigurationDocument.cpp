#include "config/ConfigurationDocument.h"

#include "app/ProgramFiles.h"
#include "app/Settings.h"
#include "config/ConfigurationFiles.h"
#include "deviceapi/modVSP_APIs.h"

using namespace modVSP_APIs;

QString ConfigurationDocument::path() const
{
    return g_ScriptFile;
}

void ConfigurationDocument::setPath(const QString& path)
{
    g_ScriptFile = path;
}

bool ConfigurationDocument::exists() const
{
    return FileExists(g_ScriptFile);
}

bool ConfigurationDocument::load() const
{
    return vsp_loadConfiguration(g_ScriptFile) != 0;
}

bool ConfigurationDocument::save() const
{
    return vsp_saveConfiguration(g_ScriptFile) != 0;
}

void ConfigurationDocument::createEmpty() const
{
    CreateEmptyFile(g_ScriptFile);
}

QString ConfigurationDocument::pathOrUntitled() const
{
    return g_ScriptFile.isEmpty() ? programFilesDir() + QStringLiteral("/Untitled.qlc") : g_ScriptFile;
}
