// The redirect editor: a frame with the nine fields of a redirect (COM port, baud,
// DTR/RTS, bits, parity, stop bits, read timeout, host address, host port), its TLS
// check box and client certificate, and its two buttons, filled from a Redirect and
// yielding one. It creates a redirect or updates an existing one; which, is its mode.
//
// TLS: the check box turns it on; "Certificate..." (enabled only then) names the
// client certificate and key the redirect presents when the adapter asks for one
// (the main window asks for the files). The pin of the adapter's certificate is not
// shown in a box (the check box's tooltip names it): an edited redirect keeps it
// while its host address and port stay as shown, and loses it when either changes,
// for a pin belongs to one adapter, or when TLS is cleared (the way to trust an
// adapter's new certificate: clear TLS, check it again, update). A TLS field the library reads but spells
// otherwise, or refuses, goes back as it stood while the user touches neither TLS
// control nor the host address and port.
#pragma once

#include "app/Steps.h"
#include "redirect/Redirect.h"

#include <QGroupBox>
#include <array>
#include <optional>
#include <variant>

class AdapterOffers;
class PortScanner;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

struct CreatingRedirect {};
struct UpdatingRedirect {
    // The pair it replaces; none once that pair is gone and the new one is not made yet.
    std::optional<DevicePair> replaces;
    // What the editor was filled from; none when that was too short to hold both strings.
    std::optional<DeviceStrings> original;
};
using EditorMode = std::variant<CreatingRedirect, UpdatingRedirect>;

// The steps of filling the editor, one per field: first those of the defaults of a new
// redirect, then those of showing a redirect (its serial settings are checked as one
// group before each of them is shown).
enum class EditorStep {
    DefaultComPort, DefaultBaud, DefaultDtrRts, DefaultParity, DefaultDataBits, DefaultStopBits, DefaultReadTimeout,
    ComPort, Host, Port, SerialGroup, Baud, DtrRts, Parity, DataBits, StopBits, ReadTimeout,
};

class RedirectEditor : public QGroupBox {
    Q_OBJECT
public:
    explicit RedirectEditor(QWidget* parent);

    // The choices of the drop-down lists, none selected.
    void fillChoices();

    // The COM port box while the ports are probed: emptied and shown red, then
    // given every port from COM1 to COM255 that cannot be opened (a port in use,
    // or one that does not exist, is free for a redirect).
    void startPortScan();
    void offerFreePorts(PortScanner& scanner);
    void endPortScan();
    void selectFirstPort();

    // The defaults of a new redirect, field by field.
    void showDefaults(const StepSink<EditorStep>& failed);
    // A redirect's fields: a field that is missing or that no choice holds goes to
    // the sink, and the others still show.
    void showRedirect(const Redirect& redirect, const StepSink<EditorStep>& failed);
    // What the fields hold.
    Redirect redirect() const;

    // The client certificate and key the TLS settings name ("" for none; the key ""
    // when it is in the certificate's file), and the user's choice of new ones.
    vspdevices::TlsSettings tlsShown() const { return tls_; }
    void chooseCertificate(const QString& certificateFile, const QString& keyFile);

    const EditorMode& mode() const { return mode_; }
    bool isUpdating() const { return std::holds_alternative<UpdatingRedirect>(mode_); }
    // Sets the mode, with the frame's title, the first button's caption and the
    // hidden label of the device pair ("<connector id>;<client id>", else "0").
    void setMode(EditorMode mode);

    std::array<QLabel*, 9> lblInfo;
    QComboBox* cmbComPort;
    QComboBox* cmbBaud;
    QComboBox* cmbDTRRTS;
    QComboBox* cmbBits;
    QComboBox* cmbParity;
    QComboBox* cmbStopBits;
    QLineEdit* txtRIT;
    QLineEdit* txtHostAddress;
    QLineEdit* txtHostPort;
    QCheckBox* chkTls;
    QPushButton* cmdCertificate;
    QWidget* buttonHolder;
    std::array<QPushButton*, 2> cmdNewRedirect;
    QLabel* lblDevices;
    // The ports adapters advertise, offered in txtHostAddress while the editor shows.
    AdapterOffers* adapterOffers;

private:
    // Shows a TLS setting in the check box and the tooltips.
    void showTls(const Setting<vspdevices::TlsSettings>& tls);
    void tlsEdited();
    void updateTlsTips();

    EditorMode mode_;
    Setting<vspdevices::TlsSettings> shownTls_;  // as showDefaults or showRedirect put it up
    vspdevices::TlsSettings tls_;                // pin, certificate and key the controls stand for
    bool tlsTouched_ = false;                    // the user changed the check box or the certificate
    QString shownHost_;
    QString shownPort_;
};
