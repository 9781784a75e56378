// The about box: the program's name, version, copyright and description from its
// version information.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

class frmAbout : public QDialog {
    Q_OBJECT
public:
    explicit frmAbout(QWidget* parent = nullptr);
    void Form_Load();
    void cmdOK_Click();

    QLabel* imgPic;
    QLabel* lblTitle;
    QLabel* lblVersion;
    QLabel* lblCopyRight;
    QLabel* lblDescription;
    QPushButton* cmdOK;
};
