// TLS as the main window handles it: the editor's client certificate, chosen through
// the file choosers.
#include "windows/frmMain.h"


#include <QFile>
#include <QFileInfo>

namespace {

const QList<QPair<QString, QString>> pemFilters = {{QStringLiteral("PEM files"), QStringLiteral("*.pem;*.crt;*.cer;*.key")},
                                                  {QStringLiteral("All files"), QStringLiteral("*.*")}};

// Whether a PEM file holds a private key beside its certificate (then it is all the
// library needs). A file that cannot be read holds none, as far as this can tell.
bool holdsPrivateKey(const QString& path)
{
    QFile file(path);
    constexpr qint64 largestLooked = 1 << 20;
    return file.open(QIODevice::ReadOnly) && file.read(largestLooked).contains("PRIVATE KEY-----");
}

}  // namespace

// A certificate already chosen: Yes chooses another, No presents none, Cancel keeps
// it. Then the certificate; a file that holds its key too is all, else its key is
// asked for. Cancelling either chooser changes nothing: a certificate without its
// key would only fail at the next connection.
void frmMain::cmdCertificate_Click()
{
    const vspdevices::TlsSettings tls = editor_->tlsShown();
    const QString certificate = QString::fromStdString(tls.certificateFile);
    if (!certificate.isEmpty()) {
        const QString files = tls.keyFile.empty() ? certificate
                                                  : certificate + QLatin1Char('\n') + QString::fromStdString(tls.keyFile);
        const msgbox::Answer answer = platform_.messages->show(
            {QStringLiteral("The redirect presents this client certificate when its adapter asks for one:\n") + files +
                 QStringLiteral("\n\nYes: choose another one.  No: present no certificate.  Cancel: keep it."),
             msgbox::Buttons::YesNoCancel, msgbox::Icon::Question, QString::fromLatin1(msgbox::defaultCaption),
             msgbox::Answer::Cancel});
        if (answer == msgbox::Answer::No)
            editor_->chooseCertificate(QString(), QString());
        if (answer != msgbox::Answer::Yes)
            return;
    }
    FileDialogRequest request;
    request.title = QStringLiteral("Client certificate (PEM)");
    request.initialDir = certificate.isEmpty() ? QString() : QFileInfo(certificate).absolutePath();
    request.filters = pemFilters;
    request.mustExist = true;
    const FileDialogResult chosen = platform_.dialogs->choose(request);
    if (!chosen.accepted || chosen.paths.isEmpty())
        return;
    const QString newCertificate = QFileInfo(chosen.paths.first()).absoluteFilePath();  // the library takes whole paths
    if (holdsPrivateKey(newCertificate)) {
        editor_->chooseCertificate(newCertificate, QString());
        return;
    }
    request.title = QStringLiteral("Private key of ") + QFileInfo(newCertificate).fileName() + QStringLiteral(" (PEM)");
    request.initialDir = QFileInfo(newCertificate).absolutePath();
    const FileDialogResult key = platform_.dialogs->choose(request);
    if (!key.accepted || key.paths.isEmpty())
        return;
    editor_->chooseCertificate(newCertificate, QFileInfo(key.paths.first()).absoluteFilePath());
}
