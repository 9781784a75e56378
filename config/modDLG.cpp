#include "config/modDLG.h"

#include "app/RuntimeError.h"
#include "app/Trap.h"

#include <QFileInfo>
#include <climits>

namespace {

Trap moduleTrap(const char* procedure)
{
    return Trap(QString::fromLatin1(procedure), Trap::UnitKind::Module, QStringLiteral("modDLG"));
}

// The pairs of a NUL-separated filter list, as the chooser shows them.
QList<QPair<QString, QString>> filterPairs(const QString& nulList)
{
    QStringList parts = nulList.split(QChar(0));
    while (!parts.isEmpty() && parts.last().isEmpty())
        parts.removeLast();
    QList<QPair<QString, QString>> pairs;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
        pairs.append({parts[i], parts[i + 1]});
    return pairs;
}

void checkProposedName(const QString& name)
{
    // The chooser's buffer holds the proposed name; a longer one cannot be passed.
    if (static_cast<std::size_t>(name.toUtf8().size()) >= dialogBufferLength())
        throw RuntimeError(ErrorCode::InvalidCall);
}

// What the chooser is asked, from the dialog's texts and the flags actually used.
FileDialogRequest requestFor(bool save, const QString& title, const QString& initialDir, const QString& proposedName,
                             const QString& defaultExt, std::int32_t used)
{
    FileDialogRequest request;
    request.save = save;
    request.title = title;
    request.initialDir = initialDir;
    request.proposedName = proposedName;
    request.defaultExt = defaultExt;
    request.mustExist = used & dlgFlag::fileMustExist;
    request.multiSelect = !save && (used & dlgFlag::allowMultiSelect);  // only the open dialog selects several
    request.overwritePrompt = used & dlgFlag::overwritePrompt;
    return request;
}

// Shows the chooser and writes the outputs back the way both dialogs do.
bool runDialog(FileDialogs& dialogs, FileDialogRequest request, const QString& nulList, QString& FileName,
               QString& FileTitle, QString& Filter, std::int32_t& FilterIndex, std::int32_t& Flags, std::int32_t used)
{
    request.filters = filterPairs(nulList);
    request.filterIndex = FilterIndex;
    const FileDialogResult result = dialogs.choose(request);
    if (!result.accepted || result.paths.isEmpty()) {
        FileName.clear();
        FileTitle.clear();
        Filter.clear();
        Flags = 0;
        return false;
    }
    if (request.multiSelect && result.paths.size() > 1) {
        // The folder, then each chosen name, NUL-separated.
        QStringList parts{QFileInfo(result.paths.first()).absolutePath()};
        for (const QString& path : result.paths)
            parts << QFileInfo(path).fileName();
        FileName = parts.join(QChar(0));
        FileTitle.clear();
    } else {
        FileName = result.paths.first();
        FileTitle = request.multiSelect ? QString() : QFileInfo(FileName).fileName();
    }
    Flags = used;
    FilterIndex = result.filterIndex;
    Filter = FilterLookup(nulList, FilterIndex);
    return true;
}

}  // namespace

std::size_t dialogBufferLength()
{
    return PATH_MAX;
}

std::int32_t openDialogFlags(bool mustExist, bool multiSelect, bool readOnly, bool hideReadOnly, std::int32_t flags)
{
    flags &= ~(dlgFlag::enableHook | dlgFlag::enableTemplate);
    return flags | (mustExist ? dlgFlag::fileMustExist : 0) | (multiSelect ? dlgFlag::allowMultiSelect : 0) |
           (readOnly ? dlgFlag::readOnly : 0) | (hideReadOnly ? dlgFlag::hideReadOnly : 0);
}

std::int32_t saveDialogFlags(bool overwritePrompt, std::int32_t flags)
{
    flags &= ~(dlgFlag::enableHook | dlgFlag::enableTemplate);
    return flags | (overwritePrompt ? dlgFlag::overwritePrompt : 0) | dlgFlag::hideReadOnly;
}

QString nulSeparatedFilter(const QString& filter)
{
    QString list = filter;
    list.replace(QLatin1Char('|'), QChar(0));
    list.replace(QLatin1Char(':'), QChar(0));
    return list + QChar(0) + QChar(0);
}

QString TrimAtNul(const QString& text)
{
    const qsizetype nul = text.indexOf(QChar(0));
    return nul < 0 ? text : text.left(nul);
}

QString FilterLookup(const QString& filterList, std::int32_t index)
{
    Trap trap = moduleTrap("FilterLookup");
    QString pair;
    trap(10, [&] {
        const auto pairs = filterPairs(filterList);
        if (index >= 1 && index <= pairs.size())
            pair = pairs[index - 1].first + QChar(0) + pairs[index - 1].second;
    });
    return pair;
}

bool OpenDialog(FileDialogs& dialogs, QString& FileName, QString& FileTitle, bool FileMustExist, bool MultiSelect,
                bool& ReadOnly, bool HideReadOnly, QString& Filter, std::int32_t& FilterIndex, const QString& InitDir,
                const QString& DlgTitle, const QString& DefaultExt, std::int32_t /*Owner: the chooser is application-modal*/,
                std::int32_t& Flags)
{
    Trap trap = moduleTrap("OpenDialog");
    bool chosen = false;
    const std::int32_t used = openDialogFlags(FileMustExist, MultiSelect, ReadOnly, HideReadOnly, Flags);
    if (!trap(10, [&] { checkProposedName(FileName); }))
        return chosen;
    trap(20, [&] {
        const FileDialogRequest request = requestFor(false, DlgTitle, InitDir, FileName, DefaultExt, used);
        chosen = runDialog(dialogs, request, nulSeparatedFilter(Filter), FileName, FileTitle, Filter, FilterIndex, Flags,
                           used);
        if (chosen)
            ReadOnly = (Flags & dlgFlag::readOnly) != 0;
    });
    return chosen;
}

bool SaveDialog(FileDialogs& dialogs, QString& FileName, QString& FileTitle, bool OverwritePrompt, QString& Filter,
                std::int32_t& FilterIndex, const QString& InitDir, const QString& DlgTitle, const QString& DefaultExt,
                std::int32_t /*Owner*/, std::int32_t& Flags)
{
    Trap trap = moduleTrap("SaveDialog");
    bool chosen = false;
    const std::int32_t used = saveDialogFlags(OverwritePrompt, Flags);
    if (!trap(10, [&] { checkProposedName(FileName); }))
        return chosen;
    trap(20, [&] {
        const FileDialogRequest request = requestFor(true, DlgTitle, InitDir, FileName, DefaultExt, used);
        chosen = runDialog(dialogs, request, nulSeparatedFilter(Filter), FileName, FileTitle, Filter, FilterIndex, Flags,
                           used);
    });
    return chosen;
}
