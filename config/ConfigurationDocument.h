// The current configuration: the file's path (never empty once the program has
// started), whether the devices changed since it was last loaded or
// saved, and loading and saving it. The device library writes and reads the files'
// contents; the program only chooses the path.
#pragma once

#include <QString>

class ConfigurationDocument {
public:
    const QString& path() const { return path_; }
    void setPath(const QString& path) { path_ = path; }
    bool exists() const;

    // The library loads the file at path(); false when it refused it, and then
    // `refusal`, when given, says why ("not a regular file", "larger than 1 MiB", ...)
    // or is "" where the library does not say.
    bool load(QString* refusal = nullptr) const;
    // The library writes the devices to the file at path(); false when it refused.
    bool save() const;
    // Creates the file at path() when there is none, so that a save can replace it; an
    // existing file is left as it is until the save's new content replaces it whole.
    // Path/File access error when it cannot.
    void createIfMissing() const;
    // The current path, or Untitled.qlc in the program's folder when there is none.
    QString pathOrUntitled() const;

    // Unsaved changes, shown as "*" in the title: set by a created or updated
    // redirect, cleared by a save and by a start-up that loads nothing.
    bool unsaved = false;

private:
    QString path_;
    mutable QString createdEmpty_;  // the file createIfMissing() made, until the save that follows
};
