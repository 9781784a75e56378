#include "devices/StatusRefresh.h"

#include "Version.h"
#include "app/ErrorLog.h"
#include "app/Settings.h"
#include "app/modSysTrayIcon.h"
#include "deviceapi/DiagnosticsText.h"
#include "deviceapi/modVSP_APIs.h"
#include "devices/RedirectList.h"
#include "redirect/InitStrings.h"
#include "vspdevices_initstring.h"
#include "vspdevices_ports.h"

#include <QEvent>
#include <QMetaObject>
#include <QSet>
#include <QStringList>
#include <QWidget>
#include <algorithm>
#include <optional>

using namespace std::chrono;

namespace {

// A device as vsp_getDeviceInfo gives it.
struct DeviceInfo {
    bool found = false;
    QString type;
    QString init;
    std::int32_t ready = 0;
    std::int32_t ok = 0;
};

DeviceInfo infoOf(std::int16_t id)
{
    DeviceInfo info;
    QString type;
    QString init;
    if (id < 0 || modVSP_APIs::vsp_getDeviceInfoEx(id, type, init, info.ready, info.ok) == 0)
        return info;
    info.found = true;
    info.type = modVSP_APIs::cleanOutBuffer(type);
    info.init = modVSP_APIs::cleanOutBuffer(init);
    return info;
}

std::optional<vsp_diagnostics> diagnosticsOf(std::int16_t id)
{
    vsp_diagnostics out;
    if (id < 0 || modVSP_APIs::vsp_getDeviceDiagnostics(id, out) == 0)
        return std::nullopt;
    return out;
}

// The link the library made for a string's COM number field, which it reads also
// where the text is odd ("05").
QString portPathOf(const Setting<int>& comNumber)
{
    const auto com = vspdevices::initstring::comNumber(comNumber.text().toStdString());
    return com ? QString::fromStdString(vspdevices::portLinkPath(*com)) : QString();
}

}  // namespace

StatusRefresh::StatusRefresh(RedirectList& list, QWidget& window, TrayIconPort& tray, const ProgramState& state)
    : QObject(nullptr), list_(list), window_(window), tray_(tray), state_(state)
{
    connect(&timer_, &QTimer::timeout, this, &StatusRefresh::refresh);
    window.installEventFilter(this);
    modVSP_APIs::vsp_setEventHandler(&StatusRefresh::onLibraryEvent, this);
    followWindow();
}

StatusRefresh::~StatusRefresh()
{
    // Once this returns the library never calls the handler again; events already
    // handed over go with this object.
    modVSP_APIs::vsp_setEventHandler(nullptr, nullptr);
}

void StatusRefresh::onLibraryEvent(const vsp_event*, void* context)
{
    QMetaObject::invokeMethod(static_cast<StatusRefresh*>(context), &StatusRefresh::libraryChanged,
                              Qt::QueuedConnection);
}

void StatusRefresh::libraryChanged()
{
    if (windowShown() || !balloonsWanted())
        return;  // the shown window's timer reads everything anyway
    watchHidden(true);
    armHiddenWatch();
}

void StatusRefresh::armHiddenWatch()
{
    // The first moment something is due: an outage reaching the limit, or now for a
    // changed certificate not told yet.
    std::optional<steady_clock::time_point> due;
    for (const Outage& outage : std::as_const(outages_))
        if (!outage.told && (!due || outage.since + diagnostics::unreachableAfter < *due))
            due = outage.since + diagnostics::unreachableAfter;
    if (changeUntold())
        due = due ? std::min(*due, clock_()) : clock_();
    if (!due) {
        timer_.stop();
        return;
    }
    steady_clock::time_point wake = *due;
    if (lastBalloon_)
        wake = std::max(wake, *lastBalloon_ + balloonShowsFor);
    timer_.start(std::max(duration_cast<milliseconds>(wake - clock_()), milliseconds(0)));
}

void StatusRefresh::balloonShown()
{
    lastBalloon_ = clock_();
    if (!windowShown() && balloonsWanted())
        armHiddenWatch();
}

bool StatusRefresh::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == &window_ &&
        (event->type() == QEvent::Show || event->type() == QEvent::Hide || event->type() == QEvent::WindowStateChange))
        followWindow();
    return QObject::eventFilter(watched, event);
}

bool StatusRefresh::windowShown() const
{
    return window_.isVisible() && !window_.isMinimized();
}

void StatusRefresh::followWindow()
{
    if (windowShown()) {
        if (timer_.isActive() && timer_.intervalAsDuration() == shownInterval)
            return;
        timer_.start(shownInterval);
        refresh();
    } else if (balloonsWanted()) {
        watchHidden(false);  // told when the wake-up comes, not over the hiding's balloon
        armHiddenWatch();
    } else {
        timer_.stop();
    }
}

void StatusRefresh::refresh()
{
    if (!windowShown()) {
        if (balloonsWanted()) {
            watchHidden(true);
            armHiddenWatch();
        } else {
            timer_.stop();
        }
        return;
    }
    QSet<std::int16_t> listed;
    for (int row = 0; row < list_.rowCount(); ++row) {
        listed.insert(list_.clientIdOrNone(row));
        refreshRow(row);
    }
    outages_.removeIf([&](const auto& entry) { return !listed.contains(entry.key()); });
    changes_.removeIf([&](const auto& entry) { return !listed.contains(entry.key()); });
}

void StatusRefresh::refreshRow(int row)
{
    // A library that cannot be reached leaves the row as the scan showed it; the
    // next command's scan reports the failure.
    try {
        const std::int16_t clientId = list_.clientIdOrNone(row);
        const std::int16_t connectorId = list_.connectorIdOrNone(row);
        diagnostics::RedirectDiagnostics redirect;
        Setting<int> comNumber;
        const DeviceInfo client = infoOf(clientId);
        if (client.found && client.type == QLatin1String(redirect::tcpClientType)) {
            list_.setStatusText(row, RedirectList::statusText(client.ready, client.ok));
            const Redirect fields = redirect::redirectFromClientInit(client.init);
            redirect.host = fields.host;
            redirect.hostPort = fields.port.text();
            comNumber = fields.comNumber;
            redirect.hasClient = true;
            redirect.client = diagnosticsOf(clientId);
            if (redirect.client) {
                redirect.downFor = observe(clientId, *redirect.client);
                observeCertificate(clientId, *redirect.client);
                const QString fingerprint = diagnostics::peerFingerprint(*redirect.client);
                if (redirect.client->lastErrorKind == VSP_ERROR_CERTIFICATE_UNKNOWN && !fingerprint.isEmpty() &&
                    !diagnostics::isConnected(*redirect.client))
                    // Queued: the window's question must not run inside this pass.
                    QMetaObject::invokeMethod(
                        this,
                        [this, clientId, fingerprint, subject = diagnostics::peerSubject(*redirect.client)] {
                            emit certificateUnknown(clientId, fingerprint, subject);
                        },
                        Qt::QueuedConnection);
            }
        } else {
            const DeviceInfo connector = infoOf(connectorId);
            if (!connector.found || connector.type != QLatin1String(redirect::connectorType))
                return;
            comNumber = redirect::redirectFromConnectorInit(connector.init).comNumber;
        }
        redirect.connector = diagnosticsOf(connectorId);
        redirect.comPort = redirect::comPortName(comNumber.text());
        redirect.portPath = portPathOf(comNumber);
        list_.setToolTipText(row, diagnostics::DiagnosticsText(redirect));
    } catch (...) {
    }
}

milliseconds StatusRefresh::observe(std::int16_t clientId, const vsp_diagnostics& client)
{
    if (!diagnostics::isDown(client)) {
        outages_.remove(clientId);  // connected, idle or stopped: an outage ends here
        return milliseconds(0);
    }
    const auto now = clock_();
    auto found = outages_.find(clientId);
    if (found == outages_.end() || found->reconnects != client.reconnects)
        found = outages_.insert(clientId, Outage{now, client.reconnects, false});
    return duration_cast<milliseconds>(now - found->since);
}

void StatusRefresh::watchHidden(bool tell)
{
    QSet<std::int16_t> listed;
    QList<Due> due;
    for (int row = 0; row < list_.rowCount(); ++row) {
        try {
            const std::int16_t clientId = list_.clientIdOrNone(row);
            const std::optional<vsp_diagnostics> client = diagnosticsOf(clientId);
            if (!client)
                continue;
            listed.insert(clientId);
            observeCertificate(clientId, *client);
            const milliseconds downFor = observe(clientId, *client);
            if (tell && downFor >= diagnostics::unreachableAfter && !outages_.value(clientId).told)
                due.append(dueOutage(clientId, downFor, *client));
        } catch (...) {
        }
    }
    outages_.removeIf([&](const auto& entry) { return !listed.contains(entry.key()); });
    changes_.removeIf([&](const auto& entry) { return !listed.contains(entry.key()); });
    if (tell && changeUntold() && (!lastBalloon_ || clock_() >= *lastBalloon_ + balloonShowsFor))
        tellChanges();
    if (!due.isEmpty() && (!lastBalloon_ || clock_() >= *lastBalloon_ + balloonShowsFor))
        tellUnreachable(due);
}

void StatusRefresh::observeCertificate(std::int16_t clientId, const vsp_diagnostics& client)
{
    const QString fingerprint = diagnostics::peerFingerprint(client);
    if (client.lastErrorKind != VSP_ERROR_CERTIFICATE_CHANGED || fingerprint.isEmpty() ||
        diagnostics::isConnected(client)) {
        changes_.remove(clientId);  // connected again, or failing otherwise: a later change is news
        return;
    }
    if (changes_.value(clientId).fingerprint == fingerprint)
        return;
    const Redirect fields = redirect::redirectFromClientInit(infoOf(clientId).init);
    const QString subject = diagnostics::peerSubject(client);
    const QString text = redirect::comPortName(fields.comNumber.text()) + QStringLiteral(" refused its adapter ") +
                         diagnostics::endpointWords(fields.host, fields.port.text()) +
                         QStringLiteral(": its certificate is not the trusted one (SHA-256 ") +
                         diagnostics::fingerprintWords(fingerprint) +
                         (subject.isEmpty() ? QString() : QStringLiteral(", ") + subject) + QStringLiteral(").");
    changes_.insert(clientId, CertificateChange{fingerprint, text, false});
    LogError(text);
}

bool StatusRefresh::changeUntold() const
{
    return std::any_of(changes_.cbegin(), changes_.cend(), [](const CertificateChange& c) { return !c.told; });
}

void StatusRefresh::tellChanges()
{
    if (!balloonsWanted())
        return;
    QStringList lines;
    for (CertificateChange& change : changes_)
        if (!change.told) {
            change.told = true;
            lines << change.text;
        }
    lastBalloon_ = clock_();
    ShowBalloon(tray_, state_, QString::fromUtf8(version::title) + QStringLiteral(": an adapter's certificate changed"),
                lines.join(QLatin1Char('\n')), 1);
}

// Only a window hidden in the notification area has a place for a balloon, and only
// when the user allows notification messages (a choice made while the window shows).
bool StatusRefresh::balloonsWanted() const
{
    try {
        return tray_.isShown() &&
               ReadSettingNumber(state_, settingsKey::WarnInSysTray) == 1;
    } catch (...) {
        return false;
    }
}

StatusRefresh::Due StatusRefresh::dueOutage(std::int16_t clientId, milliseconds downFor, const vsp_diagnostics& client) const
{
    const Redirect fields = redirect::redirectFromClientInit(infoOf(clientId).init);
    const QString comPort = redirect::comPortName(fields.comNumber.text());
    const QString host = fields.host;
    const QString hostPort = fields.port.text();
    QString text = comPort + QStringLiteral(" has not reached its adapter ") + host + QLatin1Char(':') + hostPort +
                   QStringLiteral(" for ") + diagnostics::durationWords(downFor) + QLatin1Char('.');
    const QString error = diagnostics::lastErrorWords(client, host, hostPort, QDateTime::currentDateTime());
    if (!error.isEmpty())
        text += QStringLiteral(" Last error: ") + error + QLatin1Char('.');
    return {clientId, comPort, text};
}

void StatusRefresh::tellUnreachable(const QList<Due>& due)
{
    if (!balloonsWanted())
        return;
    // A balloon holds a few lines; the rest are named by their count.
    constexpr qsizetype toldInFull = 4;
    QStringList ports;
    QStringList lines;
    for (const Due& outage : due) {
        outages_[outage.clientId].told = true;
        ports << outage.comPort;
        if (lines.size() < toldInFull)
            lines << outage.text;
    }
    if (due.size() > toldInFull)
        lines << QStringLiteral("%1 more ports have not reached their adapters for a minute.").arg(due.size() - toldInFull);
    QString title = ports.mid(0, toldInFull).join(QStringLiteral(", "));
    if (ports.size() > toldInFull)
        title += QStringLiteral(" and %1 more").arg(ports.size() - toldInFull);
    title += ports.size() == 1 ? QStringLiteral(" is down") : QStringLiteral(" are down");
    lastBalloon_ = clock_();
    ShowBalloon(tray_, state_, QString::fromUtf8(version::title) + QStringLiteral(": ") + title, lines.join(QLatin1Char('\n')), 1);
}
