// The open and save file dialogs as the program's commands use them. A filter is
// one text with "|" (or ":") between descriptions and patterns:
// "QuorlinVCP Config File (*.qlc)|*.qlc|All files (*.*)|*.*".
#pragma once

#include "app/Steps.h"
#include "app/platform/FileDialogs.h"

#include <QString>
#include <cstdint>

// The steps of the dialogs: the proposed name checked, then the chooser shown, each
// for the open and for the save dialog; and the chosen filter's pair looked up.
enum class DialogStep { OpenCheckName, OpenChoose, SaveCheckName, SaveChoose, FilterLookup };

// What both dialogs are asked.
struct DialogRequest {
    QString fileName;               // the proposed name; at most dialogBufferLength() bytes
    QString filter;                 // see above
    std::int32_t filterIndex = 1;   // the pair shown first, from 1
    QString initialDir;
    QString title;
    QString defaultExt;             // added to a name typed without one
};
struct OpenDialogRequest : DialogRequest {
    bool fileMustExist = false;
    bool multiSelect = false;
};
struct SaveDialogRequest : DialogRequest {
    bool overwritePrompt = false;  // asks before an existing file is chosen
};

// What the user chose; nothing when the user cancelled or a step failed.
struct DialogResult {
    bool chosen = false;
    // The path; with several chosen, the folder and then each name, NUL-separated.
    QString fileName;
    QString fileTitle;  // the name alone; "" when several may be chosen
    QString filter;     // the chosen pair: description, NUL, pattern
    std::int32_t filterIndex = 0;
};

// The longest path a proposed file name may have: the platform's path limit.
std::size_t dialogBufferLength();

// A proposed name too long to pass fails its check step (Invalid procedure call)
// before any chooser shows.
DialogResult OpenDialog(FileDialogs& dialogs, const OpenDialogRequest& request, const StepSink<DialogStep>& failed);
DialogResult SaveDialog(FileDialogs& dialogs, const SaveDialogRequest& request, const StepSink<DialogStep>& failed);

// The index-th pair (from 1) of a NUL-separated filter list: description, NUL,
// pattern; "" for an empty list or an index outside it, or when the step fails.
QString FilterLookup(const QString& filterList, std::int32_t index, const StepSink<DialogStep>& failed = {});

// The text up to its first NUL.
QString TrimAtNul(const QString& text);

// The filter text with every "|" and ":" turned into NUL, and two NULs after it.
QString nulSeparatedFilter(const QString& filter);
