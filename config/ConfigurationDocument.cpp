#include "config/ConfigurationDocument.h"

#include "app/ProgramFiles.h"
#include "config/ConfigurationFiles.h"
#include "deviceapi/modVSP_APIs.h"

#include <QFile>
#include <QFileInfo>

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
    const bool saved = vsp_saveConfiguration(path_) != 0;
    // The empty file made for a Save As to a new name is nobody's configuration: a
    // failed save does not leave it behind.
    if (!saved && !createdEmpty_.isEmpty() && createdEmpty_ == path_ && QFileInfo(path_).size() == 0)
        QFile::remove(path_);
    createdEmpty_.clear();
    return saved;
}

void ConfigurationDocument::createIfMissing() const
{
    const bool existed = QFileInfo::exists(path_);
    CreateFileIfMissing(path_);
    createdEmpty_ = existed ? QString() : path_;
}

QString ConfigurationDocument::pathOrUntitled() const
{
    return path_.isEmpty() ? programFilesDir() + QStringLiteral("/Untitled.qlc") : path_;
}
