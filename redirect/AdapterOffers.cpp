#include "redirect/AdapterOffers.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QEvent>
#include <QLineEdit>
#include <QMenu>
#include <QStyle>

AdapterOffers::AdapterOffers(QWidget* frame, QLineEdit* host, QLineEdit* port)
    : QObject(frame), frame_(frame), host_(host), port_(port)
{
    // An icon alone: the box has no room for a caption.
    button_ = new QAction(QApplication::style()->standardIcon(QStyle::SP_ArrowDown), QString(), host);
    button_->setObjectName(QStringLiteral("actAdapterOffers"));
    button_->setToolTip(QStringLiteral("Serial ports adapters advertise on the network"));
    button_->setVisible(false);  // the box looks as ever until a port is found
    host->addAction(button_, QLineEdit::TrailingPosition);
    menu_ = new QMenu(host);
    menu_->setObjectName(QStringLiteral("mnuAdapterOffers"));
    connect(button_, &QAction::triggered, this, [this] {
        menu_->popup(host_->mapToGlobal(host_->rect().bottomRight() - QPoint(menu_->sizeHint().width(), 0)));
    });
    frame->installEventFilter(this);
}

AdapterOffers::~AdapterOffers()
{
    browser_.reset();  // before the poll it runs on
}

bool AdapterOffers::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == frame_ && event->type() == QEvent::Show)
        start();
    else if (watched == frame_ && event->type() == QEvent::Hide)
        stop();
    return false;
}

void AdapterOffers::start()
{
    if (browser_)
        return;
    discovery::AdapterBrowser::Events events;
    events.found = [this](const discovery::DiscoveredPort&) { refill(); };
    events.removed = [this](const std::string&) { refill(); };
    browser_ = std::make_unique<discovery::AdapterBrowser>(poll_.poll(), std::move(events));
}

void AdapterOffers::stop()
{
    browser_.reset();
    refill();
}

QString AdapterOffers::entryText(const discovery::DiscoveredPort& port)
{
    const QString host = QString::fromStdString(port.host.empty() ? port.address : port.host);
    QStringList details;
    if (!port.identity.empty())
        details << QString::fromStdString(port.identity);
    if (port.tls)
        details << QStringLiteral("TLS");
    QString text = QString::fromStdString(port.name) + QStringLiteral(" \u2014 ") + host + QLatin1Char(':') +
                   QString::number(port.port);
    if (!details.isEmpty())
        text += QStringLiteral(" (") + details.join(QStringLiteral(", ")) + QLatin1Char(')');
    // '&' marks a menu entry's shortcut key: shown as itself.
    return text.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

void AdapterOffers::choose(const discovery::DiscoveredPort& port)
{
    QString host = QString::fromStdString(port.host);
    if (host.endsWith(QLatin1Char('.')))
        host.chop(1);
    const bool unresolvable = host.endsWith(QStringLiteral(".local"), Qt::CaseInsensitive) && !multicastNames_;
    if ((host.isEmpty() || unresolvable) && !port.address.empty())
        host = QString::fromStdString(port.address);
    host_->setText(host);
    port_->setText(QString::number(port.port));
    emit chosen(port.tls);
}

bool AdapterOffers::multicastNamesResolve(const QString& nsswitch)
{
    QFile file(nsswitch);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    for (int lines = 0; lines < 1000 && !file.atEnd(); ++lines) {
        const QString line = QString::fromUtf8(file.readLine(4096)).section(QLatin1Char('#'), 0, 0).simplified();
        if (line.startsWith(QStringLiteral("hosts:")))
            return line.contains(QStringLiteral("mdns"));
    }
    return false;
}

void AdapterOffers::refill()
{
    if (!menu_ || !button_)
        return;
    menu_->clear();
    if (browser_)
        for (const auto& [name, port] : browser_->ports()) {
            QAction* entry = menu_->addAction(entryText(port));
            connect(entry, &QAction::triggered, this, [this, port = port] { choose(port); });
        }
    button_->setVisible(!menu_->isEmpty());
}
