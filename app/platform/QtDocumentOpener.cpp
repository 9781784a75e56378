#include "app/platform/DocumentOpener.h"

#include <QDesktopServices>
#include <QUrl>

void QtDocumentOpener::open(const QString& path)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));  // the result is not looked at
}
