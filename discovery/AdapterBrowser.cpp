#include "discovery/AdapterBrowser.h"

#include "discovery/TxtRecord.h"

#include <avahi-common/timeval.h>

#include <net/if.h>
#include <vector>

namespace discovery {
namespace {

constexpr std::size_t maxNameBytes = 128;
constexpr std::size_t maxPorts = 256;  // a network that advertises more is not listed further

std::vector<std::string_view> entries(AvahiStringList* txt)
{
    std::vector<std::string_view> list;
    for (; txt; txt = avahi_string_list_get_next(txt))
        list.emplace_back(reinterpret_cast<const char*>(avahi_string_list_get_text(txt)),
                          avahi_string_list_get_size(txt));
    return list;
}

std::string addressText(const AvahiAddress* address, AvahiIfIndex interface)
{
    char text[AVAHI_ADDRESS_STR_MAX] = {};
    if (!address || !avahi_address_snprint(text, sizeof text, address))
        return {};
    std::string result = text;
    // A link-local IPv6 address is reachable only through its interface.
    if (address->proto == AVAHI_PROTO_INET6 && result.rfind("fe80:", 0) == 0) {
        char name[IF_NAMESIZE] = {};
        if (interface >= 0 && ::if_indextoname(static_cast<unsigned>(interface), name))
            result += std::string("%") + name;
    }
    return result;
}

}  // namespace

AdapterBrowser::AdapterBrowser(const AvahiPoll* poll, Events events, std::string type)
    : poll_(poll), events_(std::move(events)), type_(std::move(type))
{
    connect();
}

AdapterBrowser::~AdapterBrowser()
{
    if (client_)
        avahi_client_free(client_);  // frees its browser and resolvers
    if (reconnect_)
        poll_->timeout_free(reconnect_);
}

void AdapterBrowser::connect()
{
    int error = 0;
    // NO_FAIL: without a daemon the client waits for one instead of failing. Without
    // a system bus there is no client, and nothing to wait for.
    client_ = avahi_client_new(poll_, AVAHI_CLIENT_NO_FAIL, &AdapterBrowser::onClient, this, &error);
}

void AdapterBrowser::onReconnect(AvahiTimeout*, void* userdata)
{
    auto* self = static_cast<AdapterBrowser*>(userdata);
    self->poll_->timeout_update(self->reconnect_, nullptr);
    if (self->client_)
        avahi_client_free(self->client_);
    self->connect();
}

void AdapterBrowser::forgetAll()
{
    for (const auto& [sighting, resolver] : resolvers_)
        avahi_service_resolver_free(resolver);
    resolvers_.clear();
    if (browser_)
        avahi_service_browser_free(browser_);
    browser_ = nullptr;
    sightings_.clear();
    allForNow_ = false;
    const auto gone = std::move(ports_);
    ports_.clear();
    if (events_.removed)
        for (const auto& [name, port] : gone)
            events_.removed(name);
}

void AdapterBrowser::onClient(AvahiClient* client, AvahiClientState state, void* userdata)
{
    auto* self = static_cast<AdapterBrowser*>(userdata);
    switch (state) {
    case AVAHI_CLIENT_S_RUNNING:
    case AVAHI_CLIENT_S_REGISTERING:
    case AVAHI_CLIENT_S_COLLISION:
        if (!self->browser_)
            self->browser_ = avahi_service_browser_new(client, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC,
                                                       self->type_.c_str(), nullptr, AvahiLookupFlags(0),
                                                       &AdapterBrowser::onBrowse, self);
        break;
    case AVAHI_CLIENT_CONNECTING:
        // No daemon (yet, or any more): the client waits for one.
        self->forgetAll();
        if (self->events_.settled)
            self->events_.settled();
        break;
    case AVAHI_CLIENT_FAILURE: {
        // The daemon or the bus went away: a new client, made outside this
        // client's own call, waits for the next daemon.
        self->forgetAll();
        timeval soon{};
        avahi_elapse_time(&soon, 1000, 0);
        if (self->reconnect_)
            self->poll_->timeout_update(self->reconnect_, &soon);
        else
            self->reconnect_ = self->poll_->timeout_new(self->poll_, &soon, &AdapterBrowser::onReconnect, self);
        if (self->events_.settled)
            self->events_.settled();
        break;
    }
    }
}

void AdapterBrowser::onBrowse(AvahiServiceBrowser* browser, AvahiIfIndex interface, AvahiProtocol protocol,
                              AvahiBrowserEvent event, const char* name, const char* type, const char* domain,
                              AvahiLookupResultFlags, void* userdata)
{
    auto* self = static_cast<AdapterBrowser*>(userdata);
    switch (event) {
    case AVAHI_BROWSER_NEW: {
        const Sighting sighting{name, interface, protocol};
        if (self->resolvers_.count(sighting) || self->sightings_.size() >= maxPorts * 4)
            break;
        // The address of the family it was seen over, so that IPv4 can be preferred.
        if (auto* resolver = avahi_service_resolver_new(avahi_service_browser_get_client(browser), interface,
                                                        protocol, name, type, domain, protocol, AvahiLookupFlags(0),
                                                        &AdapterBrowser::onResolve, self))
            self->resolvers_[sighting] = resolver;
        break;
    }
    case AVAHI_BROWSER_REMOVE: {
        const Sighting sighting{name, interface, protocol};
        if (const auto pending = self->resolvers_.find(sighting); pending != self->resolvers_.end()) {
            avahi_service_resolver_free(pending->second);
            self->resolvers_.erase(pending);
        }
        self->sightings_.erase(sighting);
        self->update(name);
        self->checkSettled();
        break;
    }
    case AVAHI_BROWSER_ALL_FOR_NOW:
        self->allForNow_ = true;
        self->checkSettled();
        break;
    case AVAHI_BROWSER_FAILURE:
        self->allForNow_ = true;  // nothing more comes from this browser
        self->checkSettled();
        break;
    case AVAHI_BROWSER_CACHE_EXHAUSTED:
        break;
    }
}

void AdapterBrowser::onResolve(AvahiServiceResolver* resolver, AvahiIfIndex interface, AvahiProtocol protocol,
                               AvahiResolverEvent event, const char* name, const char*, const char*, const char* host,
                               const AvahiAddress* address, uint16_t port, AvahiStringList* txt,
                               AvahiLookupResultFlags, void* userdata)
{
    auto* self = static_cast<AdapterBrowser*>(userdata);
    const Sighting sighting{name, interface, protocol};
    if (event == AVAHI_RESOLVER_FOUND) {
        const AdvertisedDevice device = readTxt(entries(txt));
        DiscoveredPort found;
        found.name = cleanText(name, maxNameBytes);
        found.host = cleanText(host ? host : "", maxNameBytes);
        found.address = addressText(address, interface);
        found.port = port;
        found.stack = device.stack;
        found.identity = device.identity;
        found.tls = device.tls;
        if (!found.name.empty())
            self->sightings_[sighting] = found;
    }
    // One answer is enough: a changed advertisement comes as a new one.
    avahi_service_resolver_free(resolver);
    self->resolvers_.erase(sighting);
    self->update(name);
    self->checkSettled();
}

void AdapterBrowser::update(const std::string& rawName)
{
    const DiscoveredPort* best = nullptr;
    for (const auto& [sighting, port] : sightings_)
        if (std::get<0>(sighting) == rawName && (!best || (std::get<2>(sighting) == AVAHI_PROTO_INET &&
                                                           best->address.find(':') != std::string::npos)))
            best = &port;
    const std::string name = cleanText(rawName, maxNameBytes);
    const auto listed = ports_.find(name);
    if (!best) {
        if (listed != ports_.end()) {
            ports_.erase(listed);
            if (events_.removed)
                events_.removed(name);
        }
    } else if (listed == ports_.end() ? ports_.size() < maxPorts : !(listed->second == *best)) {
        ports_[name] = *best;
        if (events_.found)
            events_.found(*best);
    }
}

void AdapterBrowser::checkSettled()
{
    if (settled() && events_.settled)
        events_.settled();
}

}  // namespace discovery
