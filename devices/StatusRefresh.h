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
// the moment its outage reaches the minute.
#pragma once

#include <QHash>
#include <QObject>
#include <QTimer>
#include <chrono>
#include <functional>

struct vsp_diagnostics;
struct vsp_event;
class QWidget;
class RedirectList;
class TrayIconPort;

class StatusRefresh : public QObject {
    Q_OBJECT
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    static constexpr std::chrono::milliseconds shownInterval{500};

    // Follows the window's showing and hiding, and the library's events, from now
    // on; it outlives neither the window nor the list.
    StatusRefresh(RedirectList& list, QWidget& window, TrayIconPort& tray);
    ~StatusRefresh() override;

    // One pass now: the texts while the window is shown, the outage watch while hidden.
    void refresh();
    bool isTimerRunning() const { return timer_.isActive(); }
    std::chrono::milliseconds timerInterval() const { return timer_.intervalAsDuration(); }
    // For tests: the clock outages are measured with.
    void setClock(Clock clock) { clock_ = std::move(clock); }

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
    // While hidden: one look at every redirect, telling of the outages past the
    // limit when `tell`.
    void watchHidden(bool tell);
    void tellUnreachable(std::int16_t clientId, std::chrono::milliseconds downFor, const vsp_diagnostics& client);

    RedirectList& list_;
    QWidget& window_;
    TrayIconPort& tray_;
    QTimer timer_;
    Clock clock_ = [] { return std::chrono::steady_clock::now(); };
    QHash<std::int16_t, Outage> outages_;
};
