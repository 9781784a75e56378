#include "windows/MonitorWindow.h"

#include "Version.h"
#include "app/AppIcon.h"
#include "app/HandlerBoundary.h"
#include "monitor/EventText.h"
#include "monitor/PcapngWriter.h"
#include "monitor/WallClock.h"
#include "windows/MonitorText.h"

#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QSocketNotifier>
#include <QTextBlock>
#include <QVBoxLayout>
#include <chrono>
#include <fstream>

namespace {
using Kind = monitor::Entry::Kind;
namespace control = vsp::control;

constexpr int flushMs = 50;
constexpr int retryMs = 1000;
// Data of one direction that follows within this time joins the line before, up to
// a line of blockBytes bytes or the end of a text line.
constexpr std::uint64_t mergeGapUs = 20000;
constexpr std::size_t blockBytes = 256;

const struct {
    const char* name;
    std::uint32_t bit;
} lampLines[] = {{"DTR", control::lineDtr}, {"RTS", control::lineRts}, {"CTS", control::lineCts},
                 {"DSR", control::lineDsr}, {"DCD", control::lineDcd}, {"RI", control::lineRi}};

QTextCharFormat colour(const char* rgb, bool italic = false)
{
    QTextCharFormat format;
    format.setForeground(QColor(QLatin1String(rgb)));
    format.setFontItalic(italic);
    return format;
}

std::size_t costOf(const monitor::Record& record)
{
    return record.payload.size() + sizeof(monitor::Record) + 32;  // the payload's allocation besides
}

Trap monitorTrap(const char* procedure)
{
    return Trap(QString::fromLatin1(procedure), Trap::UnitKind::Form, QStringLiteral("frmMonitor"));
}

// Now on the library's clock.
std::uint64_t monotonicNowUs()
{
    using namespace std::chrono;
    return static_cast<std::uint64_t>(duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count());
}
}  // namespace

MonitorWindow::MonitorWindow(int com, Platform& platform, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , com_(com)
    , platform_(platform)
    , portName_(QStringLiteral("COM%1").arg(com))
    , wallClockOffsetUs_(monitor::wallClockOffsetUs())
{
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("frmMonitor(%1)").arg(portName_));
    setWindowTitle(portName_ + QStringLiteral(" Monitor - ") + QString::fromUtf8(version::title));
    setWindowIcon(appIcon());
    formats_ = {colour("#808080"), colour("#0b56a8"), colour("#a83c00"),
                colour("#707070", true), colour("#2e7d32"), colour("#c62828")};
    buildLayout();
    showState();

    flushTimer_.setSingleShot(true);
    flushTimer_.setInterval(flushMs);
    connect(&flushTimer_, &QTimer::timeout, this, handler(monitorTrap("flush"), [this] { flush(); }));
    retryTimer_.setInterval(retryMs);
    connect(&retryTimer_, &QTimer::timeout, this, handler(monitorTrap("connectToPort"), [this] { connectToPort(); }));
    connectToPort();
}

MonitorWindow::~MonitorWindow() = default;

void MonitorWindow::buildLayout()
{
    resize(760, 480);
    auto* lines = new QHBoxLayout;
    for (std::size_t i = 0; i < lamps_.size(); ++i) {
        lamps_[i] = new QLabel(this);
        lamps_[i]->setObjectName(QStringLiteral("lamp(%1)").arg(QLatin1String(lampLines[i].name)));
        lines->addWidget(lamps_[i]);
    }
    lblSettings_ = new QLabel(this);
    lblSettings_->setObjectName(QStringLiteral("lblSettings"));
    lines->addSpacing(16);
    lines->addWidget(lblSettings_);
    lines->addStretch();
    auto* legend = new QLabel(QStringLiteral("<span style='color:#0b56a8'>&#9654; to the device</span>&nbsp;&nbsp; "
                                             "<span style='color:#a83c00'>&#9664; from the device</span>&nbsp;&nbsp; "
                                             "<span style='color:#707070'>&#9655;&#9665; commands</span>"),
                              this);
    lines->addWidget(legend);

    auto* commands = new QHBoxLayout;
    cmdPause_ = new QPushButton(QStringLiteral("Pause"), this);
    cmdPause_->setObjectName(QStringLiteral("cmdPause"));
    cmdPause_->setCheckable(true);
    cmdPause_->setToolTip(QStringLiteral("Stop updating the view; the traffic is still recorded"));
    auto* cmdClear = new QPushButton(QStringLiteral("Clear"), this);
    cmdClear->setObjectName(QStringLiteral("cmdClear"));
    cmdClear->setToolTip(QStringLiteral("Empty the view and the traffic held for saving"));
    chkHex_ = new QCheckBox(QStringLiteral("Hex"), this);
    chkHex_->setObjectName(QStringLiteral("chkHex"));
    chkHex_->setToolTip(QStringLiteral("Show the data as hex bytes instead of text"));
    txtFind_ = new QLineEdit(this);
    txtFind_->setObjectName(QStringLiteral("txtFind"));
    txtFind_->setPlaceholderText(QStringLiteral("Find (Ctrl+F)"));
    txtFind_->setClearButtonEnabled(true);
    auto* cmdFindNext = new QPushButton(QStringLiteral("Next"), this);
    cmdFindNext->setObjectName(QStringLiteral("cmdFindNext"));
    cmdFindNext->setToolTip(QStringLiteral("Find the next match (F3)"));
    auto* cmdSave = new QPushButton(QStringLiteral("Save..."), this);
    cmdSave->setObjectName(QStringLiteral("cmdSave"));
    cmdSave->setToolTip(QStringLiteral("Save the traffic held to a pcapng file for Wireshark"));
    for (QWidget* w : std::initializer_list<QWidget*>{cmdPause_, cmdClear, chkHex_})
        commands->addWidget(w);
    commands->addStretch();
    commands->addWidget(txtFind_);
    commands->addWidget(cmdFindNext);
    commands->addSpacing(16);
    commands->addWidget(cmdSave);

    txtTraffic_ = new QPlainTextEdit(this);
    txtTraffic_->setObjectName(QStringLiteral("txtTraffic"));
    txtTraffic_->setReadOnly(true);
    txtTraffic_->setUndoRedoEnabled(false);
    txtTraffic_->setMaximumBlockCount(viewLines);
    txtTraffic_->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    txtTraffic_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));

    lblStatus_ = new QLabel(this);
    lblStatus_->setObjectName(QStringLiteral("lblStatus"));
    lblStatus_->setWordWrap(true);
    lblStatus_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(lines);
    layout->addLayout(commands);
    layout->addWidget(txtTraffic_, 1);
    layout->addWidget(lblStatus_);

    connect(cmdPause_, &QPushButton::toggled, this, handler<bool>(monitorTrap("cmdPause_Click"), [this](bool on) {
                setPaused(on);
            }));
    connect(cmdClear, &QPushButton::clicked, this, handler(monitorTrap("cmdClear_Click"), [this] { clearHistory(); }));
    connect(cmdSave, &QPushButton::clicked, this, handler(monitorTrap("cmdSave_Click"), [this] { save(); }));
    connect(chkHex_, &QCheckBox::toggled, this, handler(monitorTrap("chkHex_Click"), [this] { redraw(); }));
    const auto find = handler(monitorTrap("findNext"), [this] { findNext(); });
    connect(cmdFindNext, &QPushButton::clicked, this, find);
    connect(txtFind_, &QLineEdit::returnPressed, this, find);
    connect(new QShortcut(QKeySequence::FindNext, this), &QShortcut::activated, this, find);
    connect(new QShortcut(QKeySequence::Find, this), &QShortcut::activated, this, [this] {
        txtFind_->setFocus(Qt::ShortcutFocusReason);
        txtFind_->selectAll();
    });
}

void MonitorWindow::connectToPort()
{
    auto opened = monitor::MonitorConnection::open(com_, 1000);
    if (const auto* error = std::get_if<std::string>(&opened)) {
        setStatus(QString::fromStdString(*error) + QStringLiteral(". The window tries again every second."), true);
        if (!retryTimer_.isActive())
            retryTimer_.start();
        return;
    }
    retryTimer_.stop();
    connection_.emplace(std::move(std::get<monitor::MonitorConnection>(opened)));
    notifier_ = new QSocketNotifier(connection_->fd(), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, handler(monitorTrap("readRecords"), [this] { readRecords(); }));
    setStatus(QStringLiteral("Monitoring %1 since %2.").arg(portName_, QTime::currentTime().toString(QStringLiteral("HH:mm:ss"))));
}

void MonitorWindow::readRecords()
{
    std::vector<monitor::Record> records;
    const auto result = connection_->read(records);
    for (auto& record : records)
        hold(std::move(record));
    if (!records.empty() && !flushTimer_.isActive())
        flushTimer_.start();
    if (result == monitor::MonitorConnection::Read::Ended)
        stopReading(portName_ + QStringLiteral(" stopped: emulation was stopped or the redirect removed. "
                                               "The window tries again every second."),
                    true);
    else if (result == monitor::MonitorConnection::Read::Malformed)
        stopReading(portName_ + QStringLiteral("'s traffic came in a form this window cannot read "
                                               "(another version of QuorlinVCP runs it). Close the window and open it again."),
                    false);
}

void MonitorWindow::stopReading(const QString& why, bool retry)
{
    notifier_->setEnabled(false);
    notifier_->deleteLater();  // its own signal is running
    notifier_ = nullptr;
    connection_.reset();
    flush();
    if (!paused_) {
        QTextCursor cursor(txtTraffic_->document());
        cursor.movePosition(QTextCursor::End);
        appendLine(cursor, monotonicNowUs(), QStringLiteral("\u25CF monitoring ended"), formats_.problem);
        open_ = {};
    }
    state_.reset();  // the lines and settings are no longer known
    showState();
    setStatus(why, true);
    if (retry)
        retryTimer_.start();
}

void MonitorWindow::hold(monitor::Record record)
{
    if (record.header.kind == vsp::monitor::Kind::State) {
        state_ = vsp::monitor::decodeState(record.payload);
        stateChanged_ = true;
    }
    heldSize_ += costOf(record);
    held_.push_back(std::move(record));
    while (heldSize_ > heldBytes && held_.size() > 1) {
        heldSize_ -= costOf(held_.front());
        held_.pop_front();
        ++firstHeld_;
    }
}

void MonitorWindow::flush()
{
    if (stateChanged_) {
        showState();
        stateChanged_ = false;
    }
    if (!paused_)
        renderUpTo(endOfHeld(), true);
}

void MonitorWindow::renderUpTo(std::uint64_t end, bool noteGap)
{
    std::uint64_t from = std::max(rendered_, firstHeld_);
    if (end > from + viewLines)
        from = end - viewLines;
    const std::uint64_t gap = from - rendered_;
    if (from >= end && gap == 0)
        return;
    QScrollBar* bar = txtTraffic_->verticalScrollBar();
    const bool follow = bar->value() == bar->maximum();  // the user has not scrolled back
    QTextCursor cursor(txtTraffic_->document());
    cursor.movePosition(QTextCursor::End);
    cursor.beginEditBlock();
    if (gap) {
        conversation_ = {};  // its Telnet streams start afresh after the gap
        open_ = {};
        if (noteGap)
            appendLine(cursor, from < end ? held_[from - firstHeld_].header.timeUs : 0,
                       QStringLiteral("\u25CF %1 records not shown: they came while the view was paused").arg(gap),
                       formats_.problem);
    }
    for (std::uint64_t at = from; at < end; ++at) {
        const monitor::Record& record = held_[at - firstHeld_];
        entries_.clear();
        conversation_.add(record, entries_);  // it follows the connection through every record
        switch (record.header.kind) {
        case vsp::monitor::Kind::Data:
        case vsp::monitor::Kind::Wire:
            for (const auto& entry : entries_)
                appendEntry(cursor, entry);
            break;
        case vsp::monitor::Kind::State: break;  // the lamps and the settings show it
        default: appendEvent(cursor, record);
        }
    }
    cursor.endEditBlock();
    rendered_ = end;
    if (follow)
        bar->setValue(bar->maximum());
}

void MonitorWindow::appendEntry(QTextCursor& cursor, const monitor::Entry& entry)
{
    if (entry.kind == Kind::ToDevice || entry.kind == Kind::FromDevice) {
        const bool hex = chkHex_->isChecked();
        const QString text = hex ? monitortext::hex(entry.data) : QString::fromStdString(monitor::escaped(entry.data));
        const QTextCharFormat& format = entry.kind == Kind::ToDevice ? formats_.toDevice : formats_.fromDevice;
        if (open_.kind == entry.kind && entry.timeUs >= open_.lastTimeUs && entry.timeUs - open_.lastTimeUs < mergeGapUs &&
            open_.bytes < blockBytes && !open_.endedLine) {
            cursor.insertText(hex ? QLatin1Char(' ') + text : text, format);
            open_.bytes += entry.data.size();
        } else {
            const QString mark = entry.kind == Kind::ToDevice ? QStringLiteral("\u25B6 ") : QStringLiteral("\u25C0 ");
            appendLine(cursor, entry.timeUs, mark + text, format);
            open_ = {entry.kind, 0, entry.data.size(), false};
        }
        open_.lastTimeUs = entry.timeUs;
        open_.endedLine = !entry.data.empty() && entry.data.back() == '\n';
        return;
    }
    open_ = {};
    const QString mark = entry.kind == Kind::CommandSent ? QStringLiteral("\u25B7 ") : QStringLiteral("\u25C1 ");
    appendLine(cursor, entry.timeUs, mark + QString::fromStdString(entry.text), formats_.command);
}

void MonitorWindow::appendEvent(QTextCursor& cursor, const monitor::Record& record)
{
    open_ = {};
    const auto kind = record.header.kind;
    const bool problem = kind == vsp::monitor::Kind::Dropped || kind == vsp::monitor::Kind::Lost;
    appendLine(cursor, record.header.timeUs, QStringLiteral("\u25CF ") + QString::fromStdString(monitor::eventText(record)),
               problem ? formats_.problem : formats_.event);
}

void MonitorWindow::appendLine(QTextCursor& cursor, std::uint64_t timeUs, const QString& text, const QTextCharFormat& format)
{
    if (!txtTraffic_->document()->isEmpty())
        cursor.insertBlock();
    const auto wallMs = static_cast<qint64>(monitor::wallClockUs(timeUs, wallClockOffsetUs_) / 1000);
    const QDateTime time = QDateTime::fromMSecsSinceEpoch(wallMs);
    cursor.insertText(time.toString(QStringLiteral("HH:mm:ss.zzz  ")), formats_.time);
    cursor.insertText(text, format);
}

void MonitorWindow::redraw()
{
    txtTraffic_->clear();
    open_ = {};
    conversation_ = {};
    // While paused, what the view showed, now in the other form.
    const std::uint64_t end = paused_ ? std::max(rendered_, firstHeld_) : endOfHeld();
    rendered_ = std::max(firstHeld_, end > viewLines ? end - viewLines : 0);
    renderUpTo(end, false);
}

void MonitorWindow::setPaused(bool paused)
{
    paused_ = paused;
    if (!paused)
        flush();
}

void MonitorWindow::clearHistory()
{
    txtTraffic_->clear();
    firstHeld_ = endOfHeld();
    rendered_ = firstHeld_;
    held_.clear();
    heldSize_ = 0;
    open_ = {};
}

void MonitorWindow::findNext()
{
    const QString text = txtFind_->text();
    if (text.isEmpty())
        return;
    bool found = txtTraffic_->find(text);
    if (!found) {  // on from the top
        QTextCursor top = txtTraffic_->textCursor();
        top.movePosition(QTextCursor::Start);
        txtTraffic_->setTextCursor(top);
        found = txtTraffic_->find(text);
    }
    txtFind_->setStyleSheet(found ? QString() : QStringLiteral("QLineEdit { color: #c62828; }"));
    txtFind_->setToolTip(found ? QString() : QStringLiteral("Not found"));
}

void MonitorWindow::save()
{
    FileDialogRequest request;
    request.save = true;
    request.title = QStringLiteral("Save %1's traffic").arg(portName_);
    request.initialDir = QDir::homePath();
    request.proposedName = portName_ + QDateTime::currentDateTime().toString(QStringLiteral("-yyyyMMdd-HHmmss")) +
                           QStringLiteral(".pcapng");
    request.filters = {{QStringLiteral("pcapng capture"), QStringLiteral("*.pcapng")},
                       {QStringLiteral("All files"), QStringLiteral("*.*")}};
    request.defaultExt = QStringLiteral("pcapng");
    request.overwritePrompt = true;
    const FileDialogResult chosen = platform_.dialogs->choose(request);
    if (!chosen.accepted || chosen.paths.isEmpty())
        return;
    const QString path = chosen.paths.first();
    std::ofstream out(QFile::encodeName(path).toStdString(), std::ios::binary | std::ios::trunc);
    if (out) {
        monitor::PcapngWriter writer(out, portName_.toStdString());
        for (const monitor::Record& record : held_)
            writer.write(record);
        out.close();
    }
    if (!out) {  // a capture cut short is no capture: it goes, and the user hears why
        QFile::remove(path);
        platform_.messages->show({QStringLiteral("Error: can not write ") + path, msgbox::Buttons::Ok, msgbox::Icon::Critical});
        return;
    }
    setStatus(QStringLiteral("Saved %1 records to %2.").arg(held_.size()).arg(path));
}

void MonitorWindow::showState()
{
    for (std::size_t i = 0; i < lamps_.size(); ++i) {
        const QString name = QLatin1String(lampLines[i].name);
        const bool on = state_ && (state_->lines & lampLines[i].bit);
        lamps_[i]->setText(QStringLiteral("<span style='color:%1'>&#9679;</span> %2").arg(on ? "#2e9d3a" : "#c0c0c0", name));
        lamps_[i]->setToolTip(!state_ ? name + QStringLiteral(": not known yet") : name + (on ? QStringLiteral(" on") : QStringLiteral(" off")));
    }
    lblSettings_->setText(state_ ? monitortext::settingsText(*state_) : QStringLiteral("settings not known yet"));
}

void MonitorWindow::setStatus(const QString& text, bool problem)
{
    lblStatus_->setText(text);
    lblStatus_->setStyleSheet(problem ? QStringLiteral("QLabel { color: #c62828; }") : QString());
}
