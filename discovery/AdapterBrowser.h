// Browses the serial ports adapters advertise over DNS-SD, through the system's
// Avahi daemon, for as long as it lives. It is driven by the AvahiPoll it is given
// (the window's Qt event loop, or avahi's simple poll in the discover command), so
// it never waits by itself. Without a daemon nothing fails: it connects when one
// starts, and a daemon that stops takes its ports with it.
#pragma once

#include "discovery/DiscoveredPort.h"

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>

#include <functional>
#include <map>
#include <string>
#include <tuple>

namespace discovery {

class AdapterBrowser {
public:
    struct Events {
        std::function<void(const DiscoveredPort&)> found;   // a new port, or one whose details changed
        std::function<void(const std::string& name)> removed;
        std::function<void()> settled;                       // see settled()
    };

    AdapterBrowser(const AvahiPoll* poll, Events events, std::string type = serviceType);
    ~AdapterBrowser();
    AdapterBrowser(const AdapterBrowser&) = delete;
    AdapterBrowser& operator=(const AdapterBrowser&) = delete;

    // Whether a daemon answers (the client runs).
    bool daemonAnswers() const { return browser_ != nullptr; }
    // Whether the daemon has said all it knows for now and every port it named is resolved.
    bool settled() const { return allForNow_ && resolvers_.empty(); }
    // The ports found, one per service name.
    const std::map<std::string, DiscoveredPort>& ports() const { return ports_; }

private:
    // One advertisement of a service: on an interface, over IPv4 or IPv6.
    using Sighting = std::tuple<std::string, AvahiIfIndex, AvahiProtocol>;

    static void onClient(AvahiClient* client, AvahiClientState state, void* self);
    static void onBrowse(AvahiServiceBrowser*, AvahiIfIndex, AvahiProtocol, AvahiBrowserEvent, const char* name,
                         const char* type, const char* domain, AvahiLookupResultFlags, void* self);
    static void onResolve(AvahiServiceResolver*, AvahiIfIndex, AvahiProtocol, AvahiResolverEvent, const char* name,
                          const char* type, const char* domain, const char* host, const AvahiAddress*, uint16_t port,
                          AvahiStringList* txt, AvahiLookupResultFlags, void* self);
    static void onReconnect(AvahiTimeout*, void* self);
    void connect();
    void forgetAll();
    // Reports the service's port as its sightings now give it (IPv4 first), or its removal.
    void update(const std::string& name);
    void checkSettled();

    const AvahiPoll* poll_;
    Events events_;
    std::string type_;
    AvahiClient* client_ = nullptr;
    AvahiServiceBrowser* browser_ = nullptr;
    AvahiTimeout* reconnect_ = nullptr;
    bool allForNow_ = false;
    std::map<Sighting, AvahiServiceResolver*> resolvers_;
    std::map<Sighting, DiscoveredPort> sightings_;
    std::map<std::string, DiscoveredPort> ports_;
};

}  // namespace discovery
