#include "config/modDLG.h"

#include "app/RuntimeError.h"

#include <QFileInfo>
#include <climits>

namespace {

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

// What the chooser is asked, from what either dialog was asked.
FileDialogRequest chooserRequest(const DialogRequest& asked, const QString& nulList)
{
    FileDialogRequest request;
    request.title = asked.title;
    request.initialDir = asked.initialDir;
    request.proposedName = asked.fileName;
    request.defaultExt = asked.defaultExt;
    request.filters = filterPairs(nulList);
    request.filterIndex = asked.filterIndex;
    return request;
}

// Shows the chooser and reads what it returns the way both dialogs do.
DialogResult runDialog(FileDialogs& dialogs, const FileDialogRequest& request, const QString& nulList,
                       const StepSink<DialogStep>& failed)
{
    const FileDialogResult chosen = dialogs.choose(request);
    DialogResult result;
    if (!chosen.accepted || chosen.paths.isEmpty())
        return result;
    if (request.multiSelect && chosen.paths.size() > 1) {
        // The folder, then each chosen name, NUL-separated.
        QStringList parts{QFileInfo(chosen.paths.first()).absolutePath()};
        for (const QString& path : chosen.paths)
            parts << QFileInfo(path).fileName();
        result.fileName = parts.join(QChar(0));
    } else {
        result.fileName = chosen.paths.first();
        result.fileTitle = request.multiSelect ? QString() : QFileInfo(result.fileName).fileName();
    }
    result.chosen = true;
    result.filterIndex = chosen.filterIndex;
    result.filter = FilterLookup(nulList, result.filterIndex, failed);
    return result;
}

// Both dialogs: the name checked, then the chooser shown, asked what this dialog
// adds to the common request; a failed step ends the dialog.
template <class AddOwn>
DialogResult showDialog(FileDialogs& dialogs, const DialogRequest& asked, DialogStep check, DialogStep choose,
                        const StepSink<DialogStep>& failed, AddOwn addOwn)
{
    const Steps<DialogStep> step(failed);
    DialogResult result;
    if (!step(check, [&] { checkProposedName(asked.fileName); }))
        return result;
    step(choose, [&] {
        const QString nulList = nulSeparatedFilter(asked.filter);
        FileDialogRequest request = chooserRequest(asked, nulList);
        addOwn(request);
        result = runDialog(dialogs, request, nulList, failed);
    });
    return result;
}

}  // namespace

std::size_t dialogBufferLength()
{
    return PATH_MAX;
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

QString FilterLookup(const QString& filterList, std::int32_t index, const StepSink<DialogStep>& failed)
{
    const Steps<DialogStep> step(failed);
    QString pair;
    step(DialogStep::FilterLookup, [&] {
        const auto pairs = filterPairs(filterList);
        if (index >= 1 && index <= pairs.size())
            pair = pairs[index - 1].first + QChar(0) + pairs[index - 1].second;
    });
    return pair;
}

DialogResult OpenDialog(FileDialogs& dialogs, const OpenDialogRequest& asked, const StepSink<DialogStep>& failed)
{
    return showDialog(dialogs, asked, DialogStep::OpenCheckName, DialogStep::OpenChoose, failed,
                      [&](FileDialogRequest& request) {
                          request.mustExist = asked.fileMustExist;
                          request.multiSelect = asked.multiSelect;
                      });
}

DialogResult SaveDialog(FileDialogs& dialogs, const SaveDialogRequest& asked, const StepSink<DialogStep>& failed)
{
    return showDialog(dialogs, asked, DialogStep::SaveCheckName, DialogStep::SaveChoose, failed,
                      [&](FileDialogRequest& request) {
                          request.save = true;
                          request.overwritePrompt = asked.overwritePrompt;
                      });
}
