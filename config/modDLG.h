// The open and save file dialogs as the program's commands use them. A filter is
// one text with "|" (or ":") between descriptions and patterns:
// "QuorlinVCP Config File (*.qlc)|*.qlc|All files (*.*)|*.*".
#pragma once

#include "app/platform/FileDialogs.h"

#include <QString>
#include <cstdint>

namespace dlgFlag {
inline constexpr std::int32_t readOnly = 0x1;
inline constexpr std::int32_t overwritePrompt = 0x2;
inline constexpr std::int32_t hideReadOnly = 0x4;
inline constexpr std::int32_t enableHook = 0x20;
inline constexpr std::int32_t enableTemplate = 0x40;
inline constexpr std::int32_t allowMultiSelect = 0x200;
inline constexpr std::int32_t fileMustExist = 0x1000;
inline constexpr std::int32_t explorer = 0x80000;
}  // namespace dlgFlag

// The longest path a proposed file name may have: the platform's path limit.
std::size_t dialogBufferLength();

bool OpenDialog(FileDialogs& dialogs, QString& FileName, QString& FileTitle, bool FileMustExist, bool MultiSelect,
                bool& ReadOnly, bool HideReadOnly, QString& Filter, std::int32_t& FilterIndex, const QString& InitDir,
                const QString& DlgTitle, const QString& DefaultExt, std::int32_t Owner, std::int32_t& Flags);

bool SaveDialog(FileDialogs& dialogs, QString& FileName, QString& FileTitle, bool OverwritePrompt, QString& Filter,
                std::int32_t& FilterIndex, const QString& InitDir, const QString& DlgTitle, const QString& DefaultExt,
                std::int32_t Owner, std::int32_t& Flags);

// The index-th pair (from 1) of a NUL-separated filter list: description, NUL,
// pattern; "" for an empty list or an index outside it.
QString FilterLookup(const QString& filterList, std::int32_t index);

// The text up to its first NUL.
QString TrimAtNul(const QString& text);

// The dialog flags actually used: the caller's, without hook and template, plus
// those the boolean parameters ask for.
std::int32_t openDialogFlags(bool mustExist, bool multiSelect, bool readOnly, bool hideReadOnly, std::int32_t flags);
std::int32_t saveDialogFlags(bool overwritePrompt, std::int32_t flags);
// The filter text with every "|" and ":" turned into NUL, and two NULs after it.
QString nulSeparatedFilter(const QString& filter);
