// The redirect editor: a frame with the nine fields of a redirect (COM port, baud,
// DTR/RTS, bits, parity, stop bits, read timeout, host address, host port) and its
// two buttons, filled from a Redirect and yielding one. It creates a redirect or
// updates an existing one; which, is its mode.
#pragma once

#include "redirect/Redirect.h"

#include <QGroupBox>
#include <array>
#include <optional>
#include <variant>

class PortScanner;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class Trap;

struct CreatingRedirect {};
struct UpdatingRedirect {
    // The pair it replaces; none once that pair is gone and the new one is not made yet.
    std::optional<DevicePair> replaces;
    // What the editor was filled from; none when that was too short to hold both strings.
    std::optional<DeviceStrings> original;
};
using EditorMode = std::variant<CreatingRedirect, UpdatingRedirect>;

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

    // The defaults of a new redirect, as statements 10 to 70 of the caller's trap.
    void showDefaults(Trap& trap);
    // A redirect's fields, as statements 120 to 210 of the caller's trap: a field
    // that is missing or that no choice holds is logged, and the others still show.
    void showRedirect(const Redirect& redirect, Trap& trap);
    // What the fields hold.
    Redirect redirect() const;

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
    QWidget* buttonHolder;
    std::array<QPushButton*, 2> cmdNewRedirect;
    QLabel* lblDevices;

private:
    EditorMode mode_;
};
