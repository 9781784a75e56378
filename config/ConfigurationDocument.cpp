#include "config/ConfigurationDocument.h"

#include "app/ProgramFiles.h"
#include "config/ConfigurationFiles.h"
#include "deviceapi/modVSP_APIs.h"

using namespace modVSP_APIs;

bool ConfigurationDocument::exists() const
{
    return FileExists(path_);
}

bool ConfigurationDocument::load(QString* refusal) const
{
    QString why;
    const bool loaded = vsp_loadConfiguration(path_, why) != 0;
    if (refusal)
        *refusal = why;
    return loaded;
}

bool ConfigurationDocument::save() const
{
    return vsp_saveConfiguration(path_) != 0;
}

void ConfigurationDocument::createIfMissing() const
{
    CreateFileIfMissing(path_);
}

QString ConfigurationDocument::pathOrUntitled() const
{
    return path_.isEmpty() ? programFilesDir() + QStringLiteral("/Untitled.qlc") : path_;
}
