// The list's live status: while the main window is shown, each row's Status text and
// tooltip follow its devices, read from the library's flags and diagnostics twice a
// second. The rows themselves belong to the scan; this only rewrites the two texts,
// never a row, its record or the selection, never the emulation or the log.
//
// While the window is hidden in the notification area nothing is shown, but a
// redirect whose adapter has been out of reach for a minute is worth a balloon
// (once per redirect and outage, when the user allows notifications). Nothing polls
// for that: the library's events (a connection dropped, an attempt failed, a
// connection made) wake the watch, and a redirect found down arms one wake-up for
// the moment its outage reaches the minute. A balloon replaces the one before it, so
// each stays its time before the next: the outages that come due meanwhile wait, and
// all that are due together are told in one balloon.
//
// Over TLS, the adapter's certificate: one the library cannot trust (not pinned, no
// authority vouches for it) is offered to the window (certificateUnknown, after the
// pass, while the window is shown), which may ask the user to trust it. One that
// differs from the pinned certificate is refused by the library; here it goes to
// the error log at once and into a balloon when the window is hidden in the
// notification area (at once, or when it next hides), once per change.
#pragma once

#include "app/ProgramState.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>
#include <functional>
#include <optional>

struct vsp_event;
struct vsp_diagnostics;
class QWidget;
class RedirectList;
class TrayIconPort;

class StatusRefresh : public QObject {
    Q_OBJECT
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    static constexpr std::chrono::milliseconds shownInterval{500};
    // How long a balloon is left to be read before another may replace it.
    static constexpr std::chrono::seconds balloonShowsFor{10};

    // Follows the window's showing and hiding, and the library's events, from now
    // on; it outlives neither the window nor the list. The state gives the settings
    // file and whether the desktop shows balloons.
    StatusRefresh(RedirectList& list, QWidget& window, TrayIconPort& tray, const ProgramState& state);
    ~StatusRefresh() override;

    // One pass now: the texts while the window is shown, the outage watch while hidden.
    void refresh();
    bool isTimerRunning() const { return timer_.isActive(); }
    std::chrono::milliseconds timerInterval() const { return timer_.intervalAsDuration(); }
    // For tests: the clock outages are measured with.
    void setClock(Clock clock) { clock_ = std::move(clock); }
    // The window showed a balloon of its own (that it went into hiding): the
    // outages' balloon waits for it.
    void balloonShown();

signals:
    // A redirect's adapter presented a certificate that is not trusted: its SHA-256
    // (64 lowercase hex digits) and subject. Emitted after a pass, on every pass that
    // sees it; whoever asks the user keeps track of what was asked.
    void certificateUnknown(std::int16_t clientId, const QString& fingerprint, const QString& subject);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // One outage of one redirect: since when it has been down without a break.
    struct Outage {
        std::chrono::steady_clock::time_point since;
        std::uint32_t reconnects = 0;  // a change means it connected in between
        bool told = false;
    };

    // Called on the library's thread: hands the event to this object's thread.
    static void onLibraryEvent(const vsp_event* event, void* context);
    void libraryChanged();
    // While hidden: the timer wakes the watch when the first outage not yet told of
    // reaches the limit, and does not run when there is none.
    void armHiddenWatch();
    bool windowShown() const;
    bool balloonsWanted() const;
    void followWindow();
    void refreshRow(int row);
    // Records what the client's diagnostics say about its outage; how long it has lasted.
    std::chrono::milliseconds observe(std::int16_t clientId, const vsp_diagnostics& client);
    // An outage past the limit, not told yet: its port and what to say of it.
    struct Due {
        std::int16_t clientId;
        QString comPort;
        QString text;
    };
    // While hidden: one look at every redirect, telling of the outages past the
    // limit when `tell` and the last balloon has had its time.
    void watchHidden(bool tell);
    Due dueOutage(std::int16_t clientId, std::chrono::milliseconds downFor, const vsp_diagnostics& client) const;
    void tellUnreachable(const QList<Due>& due);
    // A certificate other than the pinned one, seen while the client is not connected.
    struct CertificateChange {
        QString fingerprint;
        QString text;  // what the balloon and the log say
        bool told = false;
    };
    // Records what the client's diagnostics say of its adapter's certificate.
    void observeCertificate(std::int16_t clientId, const vsp_diagnostics& client);
    bool changeUntold() const;
    void tellChanges();

    QHash<std::int16_t, CertificateChange> changes_;

    RedirectList& list_;
    QWidget& window_;
    TrayIconPort& tray_;
    const ProgramState& state_;
    QTimer timer_;
    Clock clock_ = [] { return std::chrono::steady_clock::now(); };
    QHash<std::int16_t, Outage> outages_;
    std::optional<std::chrono::steady_clock::time_point> lastBalloon_;
};
