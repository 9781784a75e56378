// The end of the desktop session. The session manager asks for unsaved work before
// the session ends, and also at checkpoints, where it only saves the session: the
// program keeps running after both. The session really ends with the manager's
// quit request to the application; then the main window closes without a question.
#pragma once

#include <QObject>

class QGuiApplication;
class frmMain;

class SessionEndWatcher : public QObject {
public:
    SessionEndWatcher(QGuiApplication& application, frmMain& window);
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    frmMain& window_;
};
