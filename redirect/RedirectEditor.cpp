#include "redirect/RedirectEditor.h"

#include "app/NumericText.h"
#include "app/Placement.h"
#include "deviceapi/DiagnosticsText.h"
#include "redirect/AdapterOffers.h"
#include "redirect/ComboText.h"
#include "redirect/InitStrings.h"
#include "redirect/PortScanner.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

using namespace redirect;

namespace {

const QString createCaption = QStringLiteral("Create COM <-> TCP redirect");
const QString updateCaption = QStringLiteral("Update existing COM <-> TCP redirect");

// The address an adapter answers on out of the box, proposed for a new redirect.
constexpr const char* defaultHostAddress = "192.168.0.100";

// The choices. The positions in DTR/RTS and parity are what the initialization
// strings carry, so their order is part of the stored format.
const char* const baudChoices = "110,300,1200,2400,4800,9600,19200,38400,57600,115200,230400,460800,921600";
const char* const dtrRtsChoices = "no,yes";
const char* const parityChoices = "no,odd,even,mark,space";
const char* const bitsChoices = "7,8";
const char* const stopBitsChoices = "1,2";

void fill(QComboBox* box, const char* literal)
{
    for (const QString& item : QString::fromLatin1(literal).split(QLatin1Char(',')))
        box->addItem(item);
}

// The position a choice selects: its value's, or the number an odd text reads as
// (which may be none of the choices).
template <typename T>
std::int16_t choicePosition(const Setting<T>& choice)
{
    return choice.value ? static_cast<std::int16_t>(*choice.value) : toInt16(numericValue(choice.oddText));
}

// Puts "COM<n>" into the box at its place in port order, unless it is there.
void offerPort(QComboBox* box, const QString& name)
{
    if (box->findText(name) >= 0)
        return;
    const int number = name.mid(3).toInt();
    int at = 0;
    while (at < box->count() && box->itemText(at).mid(3).toInt() < number)
        ++at;
    box->insertItem(at, name);
}

}  // namespace

RedirectEditor::RedirectEditor(QWidget* parent) : QGroupBox(createCaption, parent)
{
    setObjectName(QStringLiteral("fraNewRedirect"));
    // Laid over the list frame, it must cover it: a group box draws no background of
    // its own, so the list's captions and rows would show through between its labels.
    setAutoFillBackground(true);
    QWidget* f = this;
    auto info = [f](int index, const char* text, int x, int y) {
        return placeLabel(f, QStringLiteral("lblInfo(%1)").arg(index), QString::fromLatin1(text), x, y);
    };
    auto list = [f](const char* name, int x, int y, int w, int h) { return place(new QComboBox(f), name, x, y, w, h); };
    auto box = [f](const char* name, const char* text, int x, int y, int w, int h) {
        return place(new QLineEdit(QString::fromLatin1(text), f), name, x, y, w, h);
    };

    lblInfo[0] = info(0, "COM:", 12, 20);
    cmbComPort = list("cmbComPort", 92, 16, 81, 21);
    cmbComPort->setToolTip(QStringLiteral("List of available COM ports"));
    lblInfo[1] = info(1, "Baud:", 12, 44);
    cmbBaud = list("cmbBaud", 92, 40, 81, 21);
    lblInfo[2] = info(2, "DTR/RTS:", 12, 68);
    cmbDTRRTS = list("cmbDTRRTS", 112, 64, 61, 21);
    lblInfo[4] = info(4, "Bits:", 12, 92);
    cmbBits = list("cmbBits", 112, 88, 61, 21);
    lblInfo[3] = info(3, "Parity:", 12, 116);
    cmbParity = list("cmbParity", 112, 112, 61, 21);
    lblInfo[5] = info(5, "Stop Bits:", 12, 140);
    cmbStopBits = list("cmbStopBits", 112, 136, 61, 21);
    lblInfo[6] = info(6, "Read TimeOut:", 12, 164);
    txtRIT = box("txtRIT", "0", 112, 160, 61, 19);
    lblInfo[7] = info(7, "Host Address:", 212, 20);
    txtHostAddress = box("txtHostAddress", defaultHostAddress, 300, 16, 237, 19);
    txtHostAddress->setToolTip(QStringLiteral("Host address (will resolve redirects if needed)"));
    lblInfo[8] = info(8, "Host Port:", 212, 44);
    txtHostPort = box("txtHostPort", "3001", 476, 40, 61, 19);
    txtHostPort->setToolTip(QStringLiteral("Remote host port"));
    chkTls = place(new QCheckBox(QStringLiteral("TLS"), f), "chkTls", 212, 66, 61, 17);
    cmdCertificate = place(new QPushButton(QStringLiteral("Certificate..."), f), "cmdCertificate", 300, 63, 97, 23);
    cmdCertificate->setEnabled(false);
    connect(chkTls, &QCheckBox::toggled, cmdCertificate, &QWidget::setEnabled);
    connect(chkTls, &QCheckBox::clicked, this, [this] {  // the user's, not showTls's
        tls_.enabled = chkTls->isChecked();
        if (!tls_.enabled)
            tls_.pin.clear();  // TLS off and on again trusts the adapter's next certificate afresh
        tlsEdited();
    });
    updateTlsTips();

    buttonHolder = place(new QWidget(f), "XPHolder(0)", 376, 152, 161, 33);
    cmdNewRedirect[0] = place(new QPushButton(QStringLiteral("Create"), buttonHolder), "cmdNewRedirect(0)", 0, 0, 77, 29);
    cmdNewRedirect[0]->setToolTip(QStringLiteral("Create a COM <-> TCP redirect using entered settings"));
    cmdNewRedirect[1] = place(new QPushButton(QStringLiteral("Cancel"), buttonHolder), "cmdNewRedirect(1)", 84, 0, 77, 29);
    cmdNewRedirect[1]->setToolTip(QStringLiteral("Ignore entered settings and display list of created devices"));
    lblDevices = placeLabel(f, QStringLiteral("lblDevices"), QStringLiteral("deviceIDs_invisible_label"), 252, 0);
    lblDevices->hide();
    adapterOffers = new AdapterOffers(this, txtHostAddress, txtHostPort);
    connect(adapterOffers, &AdapterOffers::chosen, this, [this](bool tls) {  // what the adapter advertises it speaks
        if (tls_.enabled == tls)
            return;
        chkTls->setChecked(tls);
        tls_.enabled = tls;
        tlsEdited();
    });
}

void RedirectEditor::fillChoices()
{
    fill(cmbBaud, baudChoices);
    fill(cmbDTRRTS, dtrRtsChoices);
    fill(cmbParity, parityChoices);
    fill(cmbBits, bitsChoices);
    fill(cmbStopBits, stopBitsChoices);
    for (QComboBox* box : {cmbBaud, cmbDTRRTS, cmbParity, cmbBits, cmbStopBits})
        box->setCurrentIndex(-1);  // the editor selects its defaults when it opens
}

void RedirectEditor::startPortScan()
{
    cmbComPort->clear();
    cmbComPort->setStyleSheet(QStringLiteral("QComboBox { background-color: rgb(255, 0, 0); }"));
    cmbComPort->setEnabled(false);
}

void RedirectEditor::offerFreePorts(PortScanner& scanner)
{
    for (int n = 1; n <= 255; ++n)
        if (!probePortOpens(static_cast<std::uint8_t>(n), scanner))
            cmbComPort->addItem(comPortName(QString::number(n)));
}

void RedirectEditor::endPortScan()
{
    cmbComPort->setStyleSheet(QString());
    // Clearing a style sheet leaves the application's font set on the box; it
    // takes the window's again.
    cmbComPort->setFont(QFont());
    cmbComPort->setEnabled(true);
}

void RedirectEditor::selectFirstPort()
{
    if (cmbComPort->count() > 0)
        cmbComPort->setCurrentIndex(0);
}

void RedirectEditor::showDefaults(const StepSink<EditorStep>& failed)
{
    const Steps<EditorStep> step(failed);
    step(EditorStep::DefaultComPort, [&] { selectFirstPort(); });
    step(EditorStep::DefaultBaud, [&] { selectText(cmbBaud, QStringLiteral("19200")); });
    step(EditorStep::DefaultDtrRts, [&] { selectText(cmbDTRRTS, QStringLiteral("no")); });
    step(EditorStep::DefaultParity, [&] { selectText(cmbParity, QStringLiteral("no")); });
    step(EditorStep::DefaultDataBits, [&] { selectText(cmbBits, QStringLiteral("8")); });
    step(EditorStep::DefaultStopBits, [&] { selectText(cmbStopBits, QStringLiteral("1")); });
    step(EditorStep::DefaultReadTimeout, [&] { txtRIT->setText(QStringLiteral("0")); });
    showTls(vspdevices::TlsSettings{});
}

void RedirectEditor::showRedirect(const Redirect& r, const StepSink<EditorStep>& failed)
{
    const Steps<EditorStep> step(failed);
    step(EditorStep::ComPort, [&] {
        // The redirect's own port, so that "Update" keeps it there unless changed.
        r.need(Redirect::ComNumber);
        const QString own = comPortName(r.comNumber.text());
        offerPort(cmbComPort, own);
        selectText(cmbComPort, own);
    });
    step(EditorStep::Host, [&] {
        r.need(Redirect::Host);
        txtHostAddress->setText(r.host);
    });
    step(EditorStep::Port, [&] {
        r.need(Redirect::Port);
        txtHostPort->setText(r.port.text());
    });
    step(EditorStep::SerialGroup, [&] { r.need(Redirect::SerialGroup); });
    step(EditorStep::Baud, [&] {
        r.need(Redirect::Baud);
        selectText(cmbBaud, r.baud.text());
    });
    step(EditorStep::DtrRts, [&] {
        r.need(Redirect::DtrRts);
        selectIndex(cmbDTRRTS, choicePosition(r.dtrRts));
    });
    step(EditorStep::Parity, [&] {
        r.need(Redirect::Parity);
        selectIndex(cmbParity, choicePosition(r.parity));
    });
    step(EditorStep::DataBits, [&] {
        r.need(Redirect::DataBits);
        selectText(cmbBits, r.dataBits.text());
    });
    step(EditorStep::StopBits, [&] {
        r.need(Redirect::StopBits);
        selectText(cmbStopBits, r.stopBits.text());
    });
    step(EditorStep::ReadTimeout, [&] {
        r.need(Redirect::ReadTimeout);
        txtRIT->setText(r.readTimeout.text());
    });
    showTls(r.tls);
}

void RedirectEditor::showTls(const Setting<vspdevices::TlsSettings>& tls)
{
    shownTls_ = tls;
    shownHost_ = txtHostAddress->text();
    shownPort_ = txtHostPort->text();
    tlsTouched_ = false;
    // An odd field the library refuses still asks for TLS: the box shows it checked.
    vspdevices::TlsSettings unreadable;
    unreadable.enabled = true;
    tls_ = tlsAskedFor(tls).value_or(unreadable);
    chkTls->setChecked(tls_.enabled);
    updateTlsTips();
}

void RedirectEditor::chooseCertificate(const QString& certificateFile, const QString& keyFile)
{
    tls_.certificateFile = certificateFile.toStdString();
    tls_.keyFile = keyFile.toStdString();
    tlsEdited();
}

void RedirectEditor::tlsEdited()
{
    tlsTouched_ = true;
    updateTlsTips();
}

void RedirectEditor::updateTlsTips()
{
    QString tip = QStringLiteral("Connect to the adapter over TLS");
    if (!tls_.pin.empty())
        tip += QStringLiteral("\nTrusted adapter certificate (SHA-256): ") +
               diagnostics::fingerprintWords(QString::fromStdString(tls_.pin));
    chkTls->setToolTip(tip);
    const QString certificate = QString::fromStdString(tls_.certificateFile);
    const QString key = QString::fromStdString(tls_.keyFile);
    cmdCertificate->setToolTip(
        certificate.isEmpty() ? QStringLiteral("Client certificate and key (PEM) to present when the adapter asks: none")
        : key.isEmpty()       ? QStringLiteral("Client certificate and key: ") + certificate
                              : QStringLiteral("Client certificate: ") + certificate + QStringLiteral("\nKey: ") + key);
}

Redirect RedirectEditor::redirect() const
{
    Redirect r;
    r.comNumber = comNumberFrom(comPortNumber(cmbComPort->currentText()));
    r.host = txtHostAddress->text();
    r.port = tcpPortFrom(txtHostPort->text());
    r.baud = baudFrom(cmbBaud->currentText());
    r.dtrRts = onOffFrom(QString::number(cmbDTRRTS->currentIndex()));
    r.dataBits = dataBitsFrom(cmbBits->currentText());
    r.stopBits = stopBitsFrom(cmbStopBits->currentText());
    r.parity = parityFrom(QString::number(cmbParity->currentIndex()));
    r.readTimeout = readTimeoutFrom(txtRIT->text());
    const bool moved = txtHostAddress->text() != shownHost_ || txtHostPort->text() != shownPort_;
    if (!tlsTouched_ && !moved) {
        r.tls = shownTls_;
    } else {
        vspdevices::TlsSettings tls = tls_;
        if (moved)
            tls.pin.clear();  // another adapter: its certificate is asked about again
        r.tls = tls.enabled ? tls : vspdevices::TlsSettings{};
    }
    return r;
}

void RedirectEditor::setMode(EditorMode mode)
{
    mode_ = std::move(mode);
    const auto* update = std::get_if<UpdatingRedirect>(&mode_);
    lblDevices->setText(update && update->replaces ? buildDevicePair(QString::number(update->replaces->connectorId),
                                                                     QString::number(update->replaces->clientId))
                                                   : newRedirectPair);
    cmdNewRedirect[0]->setText(update ? QStringLiteral("Update") : QStringLiteral("Create"));
    setTitle(update ? updateCaption : createCaption);
}
