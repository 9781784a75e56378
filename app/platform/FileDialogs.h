// The open and save file choosers, behind an interface so tests can pick a file
// or cancel.
#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

struct FileDialogRequest {
    bool save = false;
    QString title;
    QString initialDir;
    QString proposedName;
    QList<QPair<QString, QString>> filters;  // description, patterns ("*.qlc;*.cfg")
    int filterIndex = 1;                     // from 1
    QString defaultExt;
    bool mustExist = false;
    bool overwritePrompt = false;
    bool multiSelect = false;
};

struct FileDialogResult {
    bool accepted = false;
    QStringList paths;  // full paths
    int filterIndex = 1;
};

class FileDialogs {
public:
    virtual ~FileDialogs() = default;
    virtual FileDialogResult choose(const FileDialogRequest& request) = 0;
};

class QtFileDialogs : public FileDialogs {
public:
    FileDialogResult choose(const FileDialogRequest& request) override;
    // "Description (*.a *.b)", the form Qt's chooser reads its filters in.
    static QString qtFilter(const QPair<QString, QString>& filter);
};
