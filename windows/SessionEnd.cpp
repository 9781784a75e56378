#include "windows/SessionEnd.h"

#include "app/platform/SessionRequest.h"
#include "windows/frmMain.h"

#include <QEvent>
#include <QGuiApplication>
#include <QSessionManager>

bool QtSessionRequest::allowsInteraction()
{
    return manager_.allowsInteraction();
}

void QtSessionRequest::cancel()
{
    manager_.cancel();
}

SessionEndWatcher::SessionEndWatcher(QGuiApplication& application, frmMain& window) : window_(window)
{
    application.installEventFilter(this);
    connect(&application, &QGuiApplication::commitDataRequest, this, [this](QSessionManager& manager) {
        QtSessionRequest request(manager);
        window_.sessionSaveRequest(request);
        manager.release();  // other programs may put their questions now
    });
}

bool SessionEndWatcher::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == QCoreApplication::instance() && event->type() == QEvent::Quit)
        window_.sessionEnded();
    return false;
}
