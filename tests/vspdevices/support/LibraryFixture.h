// Each test gets the library initialized on a port directory of its own, and
// released afterwards.
#pragma once

#include "support/Waiting.h"
#include "vspdevices.h"

#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <string>

struct DeviceState {
    std::string type;
    std::string init;
    int ready = -1;
    int ok = -1;
    bool found = false;
};

class LibraryFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::string portPath(int com) const { return portDir + "/COM" + std::to_string(com); }
    static DeviceState state(int id);
    static vsp_diagnostics diagnostics(int id);
    // "127.0.0.1;<port>;<com>;<serial>;<telnet>;<onDemand>;"
    static std::string client(std::uint16_t port, int com, const std::string& serial = "19200,0,8,1,0,0",
                              bool telnet = true, bool onDemand = false);

    std::string portDir;
};
