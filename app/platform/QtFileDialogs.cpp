#include "app/platform/FileDialogs.h"

#include <QFileDialog>

QString QtFileDialogs::qtFilter(const QPair<QString, QString>& filter)
{
    QString patterns = filter.second;
    patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
    // Qt reads the patterns from the last parentheses; a description that already
    // ends with them is taken as it is.
    if (filter.first.endsWith(QLatin1Char('(') + patterns + QLatin1Char(')')))
        return filter.first;
    return filter.first + QStringLiteral(" (") + patterns + QLatin1Char(')');
}

FileDialogResult QtFileDialogs::choose(const FileDialogRequest& request)
{
    QFileDialog dialog(nullptr, request.title, request.initialDir);
    dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    if (request.save)
        dialog.setFileMode(QFileDialog::AnyFile);
    else if (request.multiSelect)
        dialog.setFileMode(QFileDialog::ExistingFiles);
    else
        dialog.setFileMode(request.mustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    QStringList filters;
    for (const auto& f : request.filters)
        filters << qtFilter(f);
    dialog.setNameFilters(filters);
    if (request.filterIndex >= 1 && request.filterIndex <= filters.size())
        dialog.selectNameFilter(filters[request.filterIndex - 1]);
    dialog.setDefaultSuffix(request.defaultExt);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.overwritePrompt);
    if (!request.proposedName.isEmpty())
        dialog.selectFile(request.proposedName);

    FileDialogResult result;
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return result;
    result.accepted = true;
    result.paths = dialog.selectedFiles();
    result.filterIndex = static_cast<int>(filters.indexOf(dialog.selectedNameFilter())) + 1;
    if (result.filterIndex < 1)
        result.filterIndex = request.filterIndex;
    return result;
}
