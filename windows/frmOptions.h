// The options dialog: start with the desktop session, hide at start, the
// notification message, and which configuration is loaded at start-up. It reads
// the choices when it opens and stores all of them when it closes.
#pragma once

#include "app/platform/Platform.h"
#include "config/Autostart.h"

#include <QDialog>
#include <array>

class QCheckBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

class frmOptions : public QDialog {
    Q_OBJECT
public:
    // titleText: the program's title, which the tooltips name. Without an autostart of
    // its own, the dialog keeps the program's XDG entry.
    frmOptions(Platform& platform, const QString& titleText, QWidget* parent = nullptr,
               Autostart* autostart = nullptr);

    void Form_Load();
    void Form_QueryUnload();
    void optScriptOpt_Click(int index);
    void cmdBrowse_Click();
    void cmdClose_Click();

    QGroupBox* fraOptions;
    QCheckBox* chkWindowsStart;
    QCheckBox* chkLoadInSysTray;
    QCheckBox* chkWarnInSysTray;
    QGroupBox* fraLastScript;
    QWidget* XPHolder;
    std::array<QRadioButton*, 3> optScriptOpt;
    QLineEdit* txtConstScript;
    QPushButton* cmdBrowse;
    QPushButton* cmdClose;

    // The program's full path, as the start-up entry runs it.
    static QString programPath();

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;  // Esc closes, through the same path

private:
    void buildLayout();
    Platform& platform_;
    QString titleText_;
    XdgAutostart xdgAutostart_;
    Autostart& autostart_;
};
