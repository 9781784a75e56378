#include "config/ConfigurationDocument.h"

#include "app/ProgramFiles.h"
#include "config/ConfigurationFiles.h"
#include "deviceapi/modVSP_APIs.h"

using namespace modVSP_APIs;

bool ConfigurationDocument::exists() const
{
    return FileExists(path_);
}

bool ConfigurationDocument::load() const
{
    return vsp_loadConfiguration(path_) != 0;
}

bool ConfigurationDocument::save() const
{
    return vsp_saveConfiguration(path_) != 0;
}

void ConfigurationDocument::createEmpty() const
{
    CreateEmptyFile(path_);
}

QString ConfigurationDocument::pathOrUntitled() const
{
    return path_.isEmpty() ? programFilesDir() + QStringLiteral("/Untitled.qlc") : path_;
}
