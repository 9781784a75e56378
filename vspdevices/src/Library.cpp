#include "Library.h"

#include "PortDirectory.h"
#include "vspdevices_ports.h"

#include <algorithm>
#include <pthread.h>
#include <unistd.h>

namespace vsp {

namespace {
int eventCode(TcpClientSession::Event::Kind kind)
{
    using Kind = TcpClientSession::Event::Kind;
    switch (kind) {
    case Kind::Connected: return VSP_EVENT_CONNECTED;
    case Kind::Dropped: return VSP_EVENT_DROPPED;
    case Kind::ConnectFailed: return VSP_EVENT_CONNECT_FAILED;
    case Kind::SettingsSent: return VSP_EVENT_SETTINGS_SENT;
    case Kind::Closed: return VSP_EVENT_CLOSED;
    case Kind::DataLost: return VSP_EVENT_DATA_LOST;
    }
    return 0;
}
}  // namespace

Library& Library::instance()
{
    static Library library;
    return library;
}

template <class F, class R>
R Library::onIoThread(F&& f, R failed)
{
    std::lock_guard lock(callMutex_);
    if (!io_)
        return failed;
    std::packaged_task<R()> task(std::forward<F>(f));
    auto result = task.get_future();
    asio::post(*io_, [&task] { task(); });
    return result.get();
}

Library::~Library()
{
    if (!thread_.joinable())
        return;
    if (owner_ != ::getpid()) {
        // A forked child: the thread and the ports belong to its parent. Destroying
        // them here would remove the parent's links and its ports' open watches
        // (shared with the parent), so the child, which is ending, leaves them be.
        thread_.detach();
        struct LeftToTheParent {
            std::vector<Device> devices;
            std::shared_ptr<PortOpenWatch> openWatch;
            std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work;
            asio::io_context* io;
        };
        static const LeftToTheParent* const left =  // reachable, never destroyed
            new LeftToTheParent{std::move(devices_), std::move(openWatch_), std::move(work_), io_.release()};
        static_cast<void>(left);
        return;
    }
    release();
}

bool Library::initialize()
{
    std::lock_guard lock(callMutex_);
    if (io_)
        return true;
    portDirectory_ = vspdevices::portDirectory();
    if (!preparePortDirectory(portDirectory_))
        return false;
    portLock_ = lockPortDirectory(portDirectory_);
    if (portLock_ < 0)
        return false;  // another instance serves this directory's ports
    removeStaleLinks(portDirectory_);
    owner_ = ::getpid();
    io_ = std::make_unique<asio::io_context>();
    work_.emplace(io_->get_executor());
    thread_ = std::thread([io = io_.get()] { io->run(); });
    ::pthread_setname_np(thread_.native_handle(), "vspdevices-io");  // shown by top -H and in /proc
    return true;
}

void Library::release()
{
    {
        std::lock_guard lock(callMutex_);
        if (!io_)
            return;
    }
    drain();
    onIoThread([this] { destroyAll(); return true; }, false);
    std::lock_guard lock(callMutex_);
    work_.reset();
    io_->stop();
    thread_.join();
    openWatch_.reset();
    io_.reset();  // drops what is left of closed ports and connections
    unlockPortDirectory(portLock_);
    portLock_ = -1;
    nextId_ = 0;  // a new session of the library counts from 0 again
}

int Library::allocateId() const
{
    auto used = [this](int id) {
        return std::any_of(devices_.begin(), devices_.end(), [id](const Device& d) { return d.id == id; });
    };
    for (int id = nextId_; id <= maxId; ++id)
        if (!used(id))
            return id;
    for (int id = 0; id < nextId_ && id <= maxId; ++id)  // wrapped: the lowest free id
        if (!used(id))
            return id;
    return -1;
}

Library::Device* Library::find(int id)
{
    const auto it = std::find_if(devices_.begin(), devices_.end(), [id](const Device& d) { return d.id == id; });
    return it == devices_.end() ? nullptr : &*it;
}

Library::Device* Library::partnerOf(const Device& device)
{
    for (Device& other : devices_)
        if (other.com == device.com && other.kind.index() != device.kind.index())
            return &other;
    return nullptr;
}

void Library::bringUp(Device& device)
{
    if (TcpClient* client = device.client())
        bringUpClient(device, *client);
    else
        bringUpPort(device, *device.connector());
}

void Library::bringUpClient(Device& device, TcpClient& client)
{
    Device* partner = partnerOf(device);
    Connector* connector = partner ? partner->connector() : nullptr;
    client.session = std::make_shared<TcpClientSession>(*io_, client.settings);
    client.session->setEventReport([this, id = device.id, com = device.com](const TcpClientSession::Event& e) {
        events_.raise(eventCode(e.kind), id, com, TcpClientSession::errorCode(e.failure), e.text);
    });
    if (connector && connector->port) {
        // A port made before its redirect's client took a default speed: it
        // takes the redirect's now, unless an application has set its own,
        // which the adapter then gets instead.
        connector->port->takeRedirectSettings(client.settings.serial.baud, client.settings.serial.stopBits);
        connector->port->setListener(client.session);
        client.session->attachPort(connector->port);
    }
    if (connector && connector->control)
        connector->control->setTarget(client.session->portControl());
    client.session->start();
}

void Library::bringUpPort(Device& device, Connector& connector)
{
    Device* partner = partnerOf(device);
    TcpClient* client = partner ? partner->client() : nullptr;
    // The terminal starts at the redirect's baud rate and stop bits, as the adapter will.
    const SerialSettings serial = client ? client->settings.serial : SerialSettings();
    if (!openWatch_)
        openWatch_ = PortOpenWatch::create(*io_);
    const std::string link = portDirectory_ + "/" + vspdevices::portLinkName(device.com);
    connector.port = VirtualPort::create(*io_, openWatch_, link, serial.baud, serial.stopBits);
    if (connector.port)
        connector.control = ControlChannel::create(*io_, link);  // without it the port is a plain pty
    if (!client || !client->session)
        return;
    if (connector.port) {
        connector.port->setListener(client->session);
        client->session->attachPort(connector.port);
    }
    if (connector.control)
        connector.control->setTarget(client->session->portControl());
}

void Library::bringDown(Device& device)
{
    if (TcpClient* client = device.client(); client && client->session) {
        if (Device* partner = partnerOf(device); partner && partner->connector()->control)
            partner->connector()->control->setTarget(nullptr);
        client->session->stop();
        client->session.reset();
    }
    if (Connector* connector = device.connector()) {
        if (connector->control) {
            connector->control->close();
            connector->control.reset();
        }
        if (connector->port) {
            connector->port->close();
            connector->port.reset();
        }
    }
}

void Library::drain()
{
    std::lock_guard lock(callMutex_);
    if (!io_)
        return;
    auto drained = std::make_shared<std::promise<void>>();
    auto finished = drained->get_future();
    asio::post(*io_, [this, drained] {
        // One count for each draining session and one for this loop, so a session
        // that is done at once does not finish the wait early.
        auto left = std::make_shared<std::size_t>(1);
        auto oneDone = [left, drained] {
            if (--*left == 0)
                drained->set_value();
        };
        for (Device& d : devices_) {
            if (TcpClient* client = d.client(); client && client->session) {
                ++*left;
                client->session->drain(oneDone);
            }
        }
        oneDone();
    });
    finished.wait_for(drainLimit);
}

void Library::destroyAll()
{
    for (Device& d : devices_)
        bringDown(d);
    devices_.clear();
    claims_ = ComClaims();
    emulation_ = false;
}

bool Library::anyPortHeldOpen() const
{
    return std::any_of(devices_.begin(), devices_.end(), [](const Device& d) {
        const Connector* connector = d.connector();
        return connector && connector->port && connector->port->heldOpen();
    });
}

Library::Device Library::makeDevice(int id, std::string_view type, std::string_view init)
{
    if (type == tcpClientType) {
        TcpClientSettings settings = *parseTcpClient(init);
        const int com = settings.com;
        return Device{id, std::string(type), std::string(init), com, TcpClient{std::move(settings), nullptr}};
    }
    return Device{id, std::string(type), std::string(init), parseConnector(init)->com, Connector{}};
}

void Library::startAll()
{
    emulation_ = true;
    // Ports first, so each connection finds its port as it comes up.
    for (Device& d : devices_)
        if (d.connector())
            bringUp(d);
    for (Device& d : devices_)
        if (d.client())
            bringUp(d);
}

int Library::createDevice(std::string_view type, std::string_view init)
{
    return onIoThread(
        [&]() -> int {
            const int id = allocateId();
            if (id < 0 || !claims_.claim(type, init))
                return -1;
            devices_.push_back(makeDevice(id, type, init));
            nextId_ = id + 1;
            if (emulation_)
                bringUp(devices_.back());
            return id;
        },
        -1);
}

bool Library::destroyDevice(int id)
{
    return onIoThread(
        [&] {
            const auto it = std::find_if(devices_.begin(), devices_.end(), [id](const Device& d) { return d.id == id; });
            if (it == devices_.end())
                return true;
            if (Device* partner = partnerOf(*it); partner && it->connector() && it->connector()->port &&
                                                   partner->client()->session)
                partner->client()->session->attachPort(nullptr);
            bringDown(*it);
            claims_.release(it->type, it->init);
            devices_.erase(it);
            return true;
        },
        false);
}

void Library::destroyAllDevices()
{
    onIoThread([this] { destroyAll(); return true; }, false);
}

bool Library::reinitializeDevice(int id)
{
    return onIoThread(
        [&] {
            Device* device = find(id);
            if (!device)
                return false;
            if (TcpClient* client = device->client(); client && client->session)
                client->session->reinitialize();
            if (Connector* connector = device->connector(); connector && connector->port)
                connector->port->discardBuffered();
            return true;
        },
        false);
}

int Library::count()
{
    return onIoThread([this] { return static_cast<int>(devices_.size()); }, 0);
}

int Library::idAt(int index)
{
    return onIoThread(
        [&] { return index >= 0 && index < static_cast<int>(devices_.size()) ? devices_[static_cast<std::size_t>(index)].id : -1; },
        -1);
}

std::optional<DeviceInfo> Library::info(int id)
{
    return onIoThread(
        [&]() -> std::optional<DeviceInfo> {
            const Device* device = find(id);
            if (!device)
                return std::nullopt;
            DeviceInfo info{device->type, device->init, 0, 0};
            if (const TcpClient* client = device->client(); client && client->session) {
                info.ready = client->session->ready() ? 1 : 0;
                info.ok = client->session->ok() ? 1 : 0;
            } else if (const Connector* connector = device->connector(); connector && connector->port) {
                info.ready = 1;
                info.ok = connector->port->isOpen() ? 1 : 0;
            }
            return info;
        },
        std::optional<DeviceInfo>());
}

bool Library::startEmulation()
{
    return onIoThread(
        [this] {
            if (!emulation_)
                startAll();
            return true;
        },
        false);
}

bool Library::stopEmulation()
{
    enum class Stop { Refused, AlreadyStopped, Go };
    const Stop stop = onIoThread(
        [this] { return !emulation_ ? Stop::AlreadyStopped : anyPortHeldOpen() ? Stop::Refused : Stop::Go; },
        Stop::Refused);
    if (stop != Stop::Go)
        return stop == Stop::AlreadyStopped;
    // An application that opens a port during the drain gets a hang-up, as from a
    // destroyed device: the connections have ended their side by then.
    drain();
    return onIoThread(
        [this] {
            for (Device& d : devices_)
                bringDown(d);
            emulation_ = false;
            return true;
        },
        false);
}

bool Library::loadConfiguration(const std::string& path, std::string* refusal)
{
    const auto entries = readConfiguration(path, refusal);
    if (!entries)
        return false;
    if (refusal)
        *refusal = "the library is not initialized";  // unless the devices are taken below
    const bool loaded = onIoThread(
        [&] {
            const bool running = emulation_;
            destroyAll();
            for (const DeviceEntry& entry : *entries) {
                claims_.claim(entry.type, entry.init);  // checked when the file was read
                const int id = allocateId();
                devices_.push_back(makeDevice(id, entry.type, entry.init));
                nextId_ = id + 1;
            }
            if (running)
                startAll();
            return true;
        },
        false);
    if (loaded && refusal)
        refusal->clear();
    return loaded;
}

bool Library::saveConfiguration(const std::string& path)
{
    const auto entries = onIoThread(
        [this] {
            std::vector<DeviceEntry> list;
            for (const Device& d : devices_)
                list.push_back({d.type, d.init});
            return std::optional(list);
        },
        std::optional<std::vector<DeviceEntry>>());
    return entries && writeFileAtomically(path, serializeConfiguration(*entries));
}

std::optional<vsp_diagnostics> Library::diagnostics(int id)
{
    return onIoThread(
        [&]() -> std::optional<vsp_diagnostics> {
            const Device* device = find(id);
            if (!device)
                return std::nullopt;
            if (const TcpClient* client = device->client(); client && client->session)
                return client->session->diagnostics();
            vsp_diagnostics out{};
            out.size = sizeof out;
            out.ackBaud = -1;
            out.ackDataSize = out.ackParity = out.ackStopSize = out.lineState = out.modemState = -1;
            if (const Connector* connector = device->connector(); connector && connector->port) {
                out.state = VSP_STATE_UP;
                out.portHeld = connector->port->isOpen() ? 1 : 0;
            }
            return out;
        },
        std::optional<vsp_diagnostics>());
}

}  // namespace vsp
