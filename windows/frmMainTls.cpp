// TLS as the main window handles it: the editor's client certificate, chosen through
// the file choosers, and the question whether to trust an adapter's certificate that
// the library could not (trust on first use), whose Yes pins it to the redirect.
#include "windows/frmMain.h"

#include "app/Trap.h"
#include "deviceapi/DiagnosticsText.h"
#include "devices/DeviceCommands.h"
#include "redirect/InitStrings.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>

using namespace redirect;

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

void frmMain::trustCertificate(std::int16_t clientId, const QString& fingerprint, const QString& subject)
{
    // One question at a time, in the shown window, and not while the editor or
    // another dialog is open (the refresh offers the certificate again later).
    if (m_AskingTrust || m_PreparingEditor || !editor_->isHidden() || !isVisible() || QApplication::activeModalWidget())
        return;
    Trap trap(QStringLiteral("trustCertificate"));
    const auto listed = [&]() -> std::optional<std::pair<ListedDevice, ListedDevice>> {
        for (int row = 0; row < redirects_->rowCount(); ++row)
            if (redirects_->clientIdOrNone(row) == clientId && redirects_->redirectComNumber(row))
                return redirects_->devicesAt(row);
        return std::nullopt;
    };
    auto devices = listed();
    if (!devices || !pinnedClientInit(devices->second.init, fingerprint))
        return;
    const auto known = m_TrustAnswers.find(fingerprint);
    if (known == m_TrustAnswers.end()) {
        // Asked once per certificate in a run; the answer stands for every redirect
        // that meets it (the channels of one adapter present the same certificate).
        const Redirect fields = redirectFromClientInit(devices->second.init);
        const QString comPort = comPortName(fields.comNumber.text());
        m_AskingTrust = true;
        const msgbox::Answer answer = platform_.messages->show(
            {comPort + QStringLiteral(" connects to its adapter ") + diagnostics::endpointWords(fields.host, fields.port.text()) +
                 QStringLiteral(" over TLS. The adapter presented a certificate that is not trusted:\n\nSubject: ") +
                 (subject.isEmpty() ? QStringLiteral("(none)") : subject) + QStringLiteral("\nSHA-256: ") +
                 diagnostics::fingerprintWords(fingerprint) +
                 QStringLiteral("\n\nCompare the fingerprint with the one the adapter shows. Trust this certificate for ") +
                 comPort + QStringLiteral("?"),
             msgbox::Buttons::YesNo, msgbox::Icon::Question, QString::fromLatin1(msgbox::defaultCaption),
             msgbox::Answer::No});
        m_AskingTrust = false;
        m_TrustAnswers.insert(fingerprint, answer == msgbox::Answer::Yes);
        if (answer != msgbox::Answer::Yes)
            return;
        devices = listed();  // what the list holds after the question
    } else if (!*known) {
        return;
    }
    if (!devices)
        return;
    const std::optional<QString> pinned = pinnedClientInit(devices->second.init, fingerprint);
    if (!pinned)
        return;
    // As an update: the old pair goes, TcpClient first, and comes again with the pin;
    // one the library refuses comes back as it was.
    const DeviceStrings original{devices->first.init, devices->second.init};
    trap(10, [&] { deviceCommands::destroy(deviceIdForCommand(devices->second.id)); });
    trap(20, [&] { deviceCommands::destroy(deviceIdForCommand(devices->first.id)); });
    std::pair<std::int32_t, std::int32_t> made{-1, -1};
    trap(30, [&] { made = deviceCommands::recreate(DeviceStrings{original.connectorInit, *pinned}); });
    if (made.first == -1 || made.second == -1) {
        trap(40, [&] {
            for (const std::int32_t id : {made.second, made.first})
                if (id != -1)
                    deviceCommands::destroy(id);
            deviceCommands::recreate(original);
        });
        trap(50, [&] { showMessage(QStringLiteral("Error: can not create TCP redirector")); });
    } else {
        trap(60, [&] { document_.unsaved = true; });
        trap(70, [&] { UpdateTitle(); });
    }
    trap(80, [&] { ScanAvailPairs(); });
}
