// ser2net advertising three ports over a real avahi-daemon, in a network of the
// test's own (support/scene.sh), and the test process pointed at that Avahi's bus.
#pragma once

#include "support/ChildProcess.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <thread>

class DiscoveryScene {
public:
    // Starts the scene with its bus at `bus` (by default in its own folder); skipReason()
    // or failure() says why there is none.
    explicit DiscoveryScene(std::string bus = {})
    {
        for (const char* tool : {"unshare", "ip", "dbus-daemon", "avahi-daemon", "ser2net", "socat", "openssl"})
            if (!ChildProcess::onPath(tool)) {
                skip_ = std::string(tool) + " is not installed (scripts/setup installs it)";
                return;
            }
        char folder[] = "/tmp/qvcp-discovery-XXXXXX";
        if (!::mkdtemp(folder)) {
            failure_ = "no temporary folder";
            return;
        }
        work_ = folder;
        bus_ = bus.empty() ? work_ + "/bus" : bus;
        scene_ = std::make_unique<ChildProcess>(std::vector<std::string>{"bash", DISCOVERY_SCENE, work_, bus_},
                                                work_ + "/scene.log");
        for (int waited = 0; !std::filesystem::exists(work_ + "/ready"); waited += 50) {
            if (!scene_->running()) {
                const int status = scene_->wait();
                if (status == 77)
                    skip_ = text("skip");
                else
                    failure_ = "the scene ended: " + text("scene.log");
                return;
            }
            if (waited > 15000) {
                failure_ = "the scene did not come up; see " + work_;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        const char* old = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
        oldBus_ = old ? std::optional<std::string>(old) : std::nullopt;
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", busAddress().c_str(), 1);
    }
    ~DiscoveryScene()
    {
        if (oldBus_)
            ::setenv("DBUS_SYSTEM_BUS_ADDRESS", oldBus_->c_str(), 1);
        else
            ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
        scene_.reset();
        if (!work_.empty() && !::testing::Test::HasFailure())
            std::filesystem::remove_all(work_);
    }
    const std::string& skipReason() const { return skip_; }
    const std::string& failure() const { return failure_; }
    std::string busAddress() const { return "unix:path=" + bus_; }

    // What ser2net advertises (scene.sh's ser2net.yaml): name, host, address, port,
    // stack, device, as the discover command prints them.
    static constexpr const char* advertised[] = {
        "lab bench\tqvcp-box.local\t192.0.2.1\t3001\ttelnet(rfc2217),tcp\t",
        "secure line\tqvcp-box.local\t192.0.2.1\t3003\ttelnet(rfc2217),ssl,tcp\t",
        "usb probe\tqvcp-box.local\t192.0.2.1\t3002\ttelnet(rfc2217),tcp\t"
        "serialusb 0403:6001 FT232R USB UART s/n A10K3XYZ",
    };

private:
    std::string text(const std::string& name) const
    {
        std::ifstream in(work_ + "/" + name);
        std::stringstream all;
        all << in.rdbuf();
        return all.str();
    }

    std::string work_;
    std::string bus_;
    std::string skip_;
    std::string failure_;
    std::optional<std::string> oldBus_;
    std::unique_ptr<ChildProcess> scene_;
};

// In a test: the scene, or the test skips or fails saying why.
#define START_DISCOVERY_SCENE(scene, ...)                   \
    DiscoveryScene scene{__VA_ARGS__};                       \
    if (!scene.skipReason().empty())                         \
        GTEST_SKIP() << scene.skipReason();                  \
    ASSERT_TRUE(scene.failure().empty()) << scene.failure()
