// The library's state: its devices in creation order, the emulation switch, and the
// I/O thread that runs every port and connection. Each operation runs on that thread
// (the caller waits for its result, never for the network), so the state has one
// owner and needs no locks.
#pragma once

#include "ConfigFile.h"
#include "ControlChannel.h"
#include "EventHook.h"
#include "InitString.h"
#include "TcpClientSession.h"
#include "VirtualPort.h"
#include "vspdevices.h"

#include <asio.hpp>

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include <sys/types.h>

namespace vsp {

struct DeviceInfo {
    std::string type;
    std::string init;
    int ready = 0;
    int ok = 0;
};

class Library {
public:
    static constexpr int maxId = 32767;
    // How long stopping waits for the adapters to take what the ports still hold.
    static constexpr auto drainLimit = std::chrono::seconds(3);
    static Library& instance();
    // A process that exits without release still ends the thread and removes its ports.
    ~Library();

    bool initialize();
    void release();
    int createDevice(std::string_view type, std::string_view init);
    bool destroyDevice(int id);
    void destroyAllDevices();
    bool reinitializeDevice(int id);
    int count();
    int idAt(int index);
    std::optional<DeviceInfo> info(int id);
    bool startEmulation();
    bool stopEmulation();
    // `refusal`, when given, gets why a file is refused.
    bool loadConfiguration(const std::string& path, std::string* refusal = nullptr);
    bool saveConfiguration(const std::string& path);
    // A device's diagnostics, every field filled; nullopt for an unknown id.
    std::optional<vsp_diagnostics> diagnostics(int id);
    // The program's event handler; set from any thread, called on the I/O thread.
    void setEventHandler(vsp_event_handler handler, void* context) { events_.set(handler, context); }

private:
    // A Connector: its port and the port's control socket while emulation runs.
    struct Connector {
        std::shared_ptr<VirtualPort> port;
        std::shared_ptr<ControlChannel> control;  // none: the port is a plain pty
    };
    // A TcpClient: its settings, and its connection while emulation runs.
    struct TcpClient {
        TcpClientSettings settings;
        std::shared_ptr<TcpClientSession> session;
    };
    struct Device {
        int id;
        std::string type;
        std::string init;
        int com;
        std::variant<Connector, TcpClient> kind;
        Connector* connector() { return std::get_if<Connector>(&kind); }
        TcpClient* client() { return std::get_if<TcpClient>(&kind); }
        const Connector* connector() const { return std::get_if<Connector>(&kind); }
        const TcpClient* client() const { return std::get_if<TcpClient>(&kind); }
    };

    Library() = default;
    // Runs f on the I/O thread and gives back its result; a failed default when the
    // library is not initialized.
    template <class F, class R = std::invoke_result_t<F>>
    R onIoThread(F&& f, R failed);

    int allocateId() const;
    static Device makeDevice(int id, std::string_view type, std::string_view init);
    void startAll();
    Device* find(int id);
    // The device of the other kind on the same COM number.
    Device* partnerOf(const Device& device);
    void bringUp(Device& device);
    void bringUpPort(Device& device, Connector& connector);
    void bringUpClient(Device& device, TcpClient& client);
    void bringDown(Device& device);
    void destroyAll();
    // Sends what the ports took from their applications (and what waits for the
    // sockets) to the connected adapters before the connections close; waits for
    // them at most drainLimit. What cannot go is reported when the sessions stop.
    void drain();
    bool anyPortHeldOpen() const;

    std::mutex callMutex_;  // one operation at a time, whichever thread calls
    std::unique_ptr<asio::io_context> io_;
    std::shared_ptr<PortOpenWatch> openWatch_;  // shared by every port, made with the first
    std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work_;
    std::thread thread_;
    std::string portDirectory_;
    int portLock_ = -1;       // held from initialize to release
    pid_t owner_ = 0;         // the process that started the thread

    EventHook events_;
    std::vector<Device> devices_;
    ComClaims claims_;
    int nextId_ = 0;
    bool emulation_ = false;
};

}  // namespace vsp
