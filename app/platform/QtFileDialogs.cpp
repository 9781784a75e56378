#include "app/platform/FileDialogs.h"

#include <QFileDialog>
#include <QRegularExpression>

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

QString QtFileDialogs::qtNameFilter(const QPair<QString, QString>& filter)
{
    QStringList patterns = filter.second.split(QRegularExpression(QStringLiteral("[; ]")), Qt::SkipEmptyParts);
    for (QString& pattern : patterns) {
        if (pattern == QLatin1String("*.*"))
            pattern = QStringLiteral("*");
    }
    return qtFilter(filter) + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
}

void QtFileDialogs::prepare(QFileDialog& dialog, const FileDialogRequest& request)
{
    dialog.setWindowTitle(request.title);
    dialog.setDirectory(request.initialDir);
    dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    if (request.save)
        dialog.setFileMode(QFileDialog::AnyFile);
    else if (request.multiSelect)
        dialog.setFileMode(QFileDialog::ExistingFiles);
    else
        dialog.setFileMode(request.mustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    QStringList filters;
    for (const auto& f : request.filters)
        filters << qtNameFilter(f);
    // Only the text before the last parentheses shows: the filter as the user knows it.
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setNameFilters(filters);
    if (request.filterIndex >= 1 && request.filterIndex <= filters.size())
        dialog.selectNameFilter(filters[request.filterIndex - 1]);
    dialog.setDefaultSuffix(request.defaultExt);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.overwritePrompt);
    if (!request.proposedName.isEmpty())
        dialog.selectFile(request.proposedName);
}

int QtFileDialogs::chosenFilterIndex(const QFileDialog& dialog, const FileDialogRequest& request)
{
    // Qt gives the chosen filter back whole or as the text the user saw.
    const QString chosen = dialog.selectedNameFilter();
    for (qsizetype i = 0; i < request.filters.size(); ++i) {
        if (chosen == qtNameFilter(request.filters[i]) || chosen == qtFilter(request.filters[i]))
            return static_cast<int>(i) + 1;
    }
    return request.filterIndex;
}

FileDialogResult QtFileDialogs::choose(const FileDialogRequest& request)
{
    QFileDialog dialog;
    prepare(dialog, request);
    FileDialogResult result;
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return result;
    result.accepted = true;
    result.paths = dialog.selectedFiles();
    result.filterIndex = chosenFilterIndex(dialog, request);
    return result;
}
