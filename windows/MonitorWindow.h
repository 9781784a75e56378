// A redirect's traffic in a window of its own: the conversation between the program
// on COM<n> and the device behind the adapter (data each way, the commands to the
// adapter and its answers, the port's events), the modem lines and the settings in
// force. It reads the port's monitor stream (monitor/) as the event loop reports it
// readable, holds the records, and draws what came at most every 50 ms, so a busy
// port costs one redraw per interval and never a redraw per record. Pause stops the
// drawing, not the reading; Save... writes the records held as a pcapng capture.
// When the port is not running it says so and tries again every second.
#pragma once

#include "app/platform/Platform.h"
#include "monitor/Conversation.h"
#include "monitor/MonitorConnection.h"

#include <QTextCharFormat>
#include <QTimer>
#include <QWidget>
#include <array>
#include <cstdint>
#include <deque>
#include <optional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSocketNotifier;
class QTextCursor;

class MonitorWindow : public QWidget {
    Q_OBJECT
public:
    // The view keeps the last viewLines lines; Save... writes the records held, the
    // latest heldBytes of them (payload and bookkeeping counted).
    static constexpr int viewLines = 10000;
    static constexpr std::size_t heldBytes = 16u << 20;

    MonitorWindow(int com, Platform& platform, QWidget* parent = nullptr);
    ~MonitorWindow() override;
    int com() const { return com_; }

private:
    void buildLayout();
    void connectToPort();
    void readRecords();
    // The stream is over: the reason shown, and a retry every second when `retry`.
    void stopReading(const QString& why, bool retry);
    void hold(monitor::Record record);
    void flush();
    // Draws the held records from rendered_ up to `end`; a gap before them (records
    // that came while paused, beyond the view's bound) is noted when `noteGap`.
    void renderUpTo(std::uint64_t end, bool noteGap);
    // Data and commands, from the conversation; events, from their records.
    void appendEntry(QTextCursor& cursor, const monitor::Entry& entry);
    void appendEvent(QTextCursor& cursor, const monitor::Record& record);
    void appendLine(QTextCursor& cursor, std::uint64_t timeUs, const QString& text, const QTextCharFormat& format);
    void redraw();
    void setPaused(bool paused);
    void clearHistory();
    void findNext();
    void save();
    void showState();
    void setStatus(const QString& text, bool problem = false);
    std::uint64_t endOfHeld() const { return firstHeld_ + held_.size(); }

    const int com_;
    Platform& platform_;
    const QString portName_;
    std::optional<monitor::MonitorConnection> connection_;
    QSocketNotifier* notifier_ = nullptr;
    QTimer flushTimer_;
    QTimer retryTimer_;

    // The records held, numbered from firstHeld_ in the order they came.
    std::deque<monitor::Record> held_;
    std::size_t heldSize_ = 0;
    std::uint64_t firstHeld_ = 0;
    std::uint64_t rendered_ = 0;  // the number of the first record not yet drawn
    monitor::Conversation conversation_;  // of the records drawn
    std::vector<monitor::Entry> entries_;
    std::optional<vsp::monitor::PortState> state_;
    bool stateChanged_ = false;
    bool paused_ = false;
    std::int64_t wallClockOffsetUs_ = 0;  // the wall clock minus the monotonic clock

    // The data block last drawn, which data of the same direction soon after extends.
    struct OpenBlock {
        monitor::Entry::Kind kind = monitor::Entry::Kind::PortOpened;  // no data block open
        std::uint64_t lastTimeUs = 0;
        std::size_t bytes = 0;
        bool endedLine = false;
    } open_;

    struct Formats {
        QTextCharFormat time, toDevice, fromDevice, command, event, problem;
    } formats_;

    std::array<QLabel*, 6> lamps_{};
    QLabel* lblSettings_ = nullptr;
    QLabel* lblStatus_ = nullptr;
    QPushButton* cmdPause_ = nullptr;
    QCheckBox* chkHex_ = nullptr;
    QLineEdit* txtFind_ = nullptr;
    QPlainTextEdit* txtTraffic_ = nullptr;
};
