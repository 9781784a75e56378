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

class QFileDialog;

class QtFileDialogs : public FileDialogs {
public:
    FileDialogResult choose(const FileDialogRequest& request) override;
    // "Description (*.a *.b)": the filter's text as the user sees it.
    static QString qtFilter(const QPair<QString, QString>& filter);
    // The filter as Qt's chooser is given it: the text the user sees, then (hidden)
    // the patterns Qt matches. "*.*" means every file here, also one without an
    // extension, which Qt's "*.*" would hide: it is handed over as "*".
    static QString qtNameFilter(const QPair<QString, QString>& filter);
    // Sets a chooser up for a request; choose() then shows it.
    static void prepare(QFileDialog& dialog, const FileDialogRequest& request);
    // The pair (from 1) the user left chosen in a chooser set up for the request.
    static int chosenFilterIndex(const QFileDialog& dialog, const FileDialogRequest& request);
};
