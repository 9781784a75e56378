#include "windows/frmAbout.h"

#include "Version.h"
#include "app/AboutArt.h"
#include "app/HandlerBoundary.h"
#include "app/Placement.h"

#include <QLabel>
#include <QPushButton>

namespace {
}  // namespace

frmAbout::frmAbout(QWidget* parent) : QDialog(parent)
{
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    QFont font(QStringLiteral("DejaVu Sans Condensed"));
    font.setPixelSize(11);
    setFont(font);
    setFixedSize(400, 247);
    imgPic = place(new QLabel(this), "imgPic", 8, 8, 115, 228);
    imgPic->setPixmap(aboutPicture());
    lblTitle = place(new QLabel(this), "lblTitle", 128, 8, 259, 32);
    QFont titleFont = font;
    titleFont.setPixelSize(18);  // 13.5 points at 96 dpi
    lblTitle->setFont(titleFont);
    lblVersion = place(new QLabel(this), "lblVersion", 128, 44, 259, 15);
    lblCopyRight = place(new QLabel(this), "lblCopyRight", 128, 68, 259, 15);
    lblDescription = place(new QLabel(this), "lblDescription", 128, 96, 259, 78);
    lblDescription->setWordWrap(true);
    lblDescription->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    cmdOK = place(new QPushButton(QStringLiteral("OK"), this), "cmdOK", 308, 208, 84, 31);
    cmdOK->setDefault(true);  // Enter; Esc closes the box as well (the dialog's reject)
    connect(cmdOK, &QPushButton::clicked, this,
            handler(this, Trap(QStringLiteral("cmdOK_Click"), Trap::UnitKind::Form, QStringLiteral("frmAbout")),
                    &frmAbout::cmdOK_Click));
}

void frmAbout::Form_Load()
{
    const QString title = QString::fromUtf8(version::title);
    setWindowTitle(QStringLiteral("About ") + title);
    lblVersion->setText(QString::fromUtf8(version::productName) + QStringLiteral(" Version ") +
                        QString::number(version::major) + QLatin1Char('.') + QString::number(version::minor) +
                        QLatin1Char('.') + QString::number(version::revision));
    lblTitle->setText(title);
    lblCopyRight->setText(QString::fromUtf8(version::copyright));
    lblDescription->setText(QString::fromUtf8(version::description));
}

void frmAbout::cmdOK_Click()
{
    accept();
}
