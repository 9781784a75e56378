// The benchmarks' redirects: COM1..COMn, each to its own line of one simulated
// adapter on loopback, with emulation running and every line connected.
#pragma once

#include "AdapterServer.h"
#include "vspdevices.h"

#include <chrono>
#include <string>

namespace bench {

// False when emulation did not start or a line did not connect within 20 s.
inline bool startRedirects(vsp::AdapterServer& adapter, int ports)
{
    for (int com = 1; com <= ports; ++com) {
        vsp_createDevice("Connector", (std::to_string(com) + ";0").c_str());
        const std::string init =
            "127.0.0.1;" + std::to_string(adapter.port()) + ";" + std::to_string(com) + ";19200,1,8,1,0,0;1;0;";
        vsp_createDevice("TcpClient", init.c_str());
    }
    return vsp_startEmulation() == 1 &&
           adapter.waitFor([&] { return adapter.clients() == ports; }, std::chrono::seconds(20));
}

}  // namespace bench
