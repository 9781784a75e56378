// The ports adapters advertise on the network, offered in the editor's Host Address
// box: a button at its end, shown once a port is found, drops down a menu of them
// ("name — host:port (device)"); choosing one fills the host address and the host
// port. The boxes take typing as ever. Browsing runs only while the editor shows.
#pragma once

#include "discovery/AdapterBrowser.h"
#include "discovery/qt/QtAvahiPoll.h"

#include <QAction>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QString>
#include <memory>

class QLineEdit;

class AdapterOffers : public QObject {
    Q_OBJECT
public:
    // Watches `frame` for being shown and hidden; offers in `host`, fills `host` and `port`.
    AdapterOffers(QWidget* frame, QLineEdit* host, QLineEdit* port);
    ~AdapterOffers() override;

    bool browsing() const { return browser_ != nullptr; }
    // The button at the end of the host box, and the menu it drops down.
    QAction* button() const { return button_; }
    QMenu* menu() const { return menu_; }

    // A port's entry in the menu.
    static QString entryText(const discovery::DiscoveredPort& port);
    // Fills the boxes with the port: its host name, else its address, and its port,
    // and says whether its adapter speaks TLS (chosen). A ".local" name resolves
    // only through the multicast host look-up (libnss-mdns in nsswitch.conf's
    // "hosts" line); without it the address goes in instead, which connects at
    // once, where the name would only fail to resolve.
    void choose(const discovery::DiscoveredPort& port);
    void assumeMulticastNames(bool resolve) { multicastNames_ = resolve; }
    static bool multicastNamesResolve(const QString& nsswitch = QStringLiteral("/etc/nsswitch.conf"));

signals:
    void chosen(bool tls);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void start();
    void stop();
    void refill();

    QWidget* frame_;
    QLineEdit* host_;
    QLineEdit* port_;
    // The host box owns these; it may go first when the editor is destroyed.
    QPointer<QAction> button_;
    QPointer<QMenu> menu_;
    QtAvahiPoll poll_;
    std::unique_ptr<discovery::AdapterBrowser> browser_;
    bool multicastNames_ = multicastNamesResolve();
};
