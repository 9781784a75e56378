// The main window: the list of redirects, the editor frame, the menus.
#pragma once

#include <QMainWindow>

class frmMain : public QMainWindow {
    Q_OBJECT
public:
    explicit frmMain(QWidget* parent = nullptr);
};
