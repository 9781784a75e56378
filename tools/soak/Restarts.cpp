#include "AdapterServer.h"
#include "Soak.h"
#include "SoakPort.h"

#include "vspdevices.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace soak {

bool adapterRestarts(int count)
{
    Library library;
    vsp::AdapterServer::Options echo;
    echo.echo = true;
    vsp::AdapterServer adapter(echo);
    const int id = Library::addRedirect(5, adapter.port());
    if (!library.ready() || id < 0 || !vsp_startEmulation() || !waitUntil([&] { return Library::ok(id); }, std::chrono::seconds(5))) {
        std::printf("restarts: the redirect never came up\n");
        return false;
    }
    PortApp app(library.portPath(5));
    int intact = 0;
    std::vector<double> reconnectMs;
    for (int i = 0; i < count; ++i) {
        const int before = adapter.connections();
        adapter.stop();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));  // down long enough to refuse a connect
        const auto restarted = std::chrono::steady_clock::now();
        adapter.start();
        const bool back = adapter.waitFor([&] { return adapter.connections() > before; }, std::chrono::seconds(15)) &&
                          waitUntil([&] { return Library::ok(id); }, std::chrono::seconds(5));
        reconnectMs.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - restarted).count());
        if (back && app.echoes(4096, std::chrono::seconds(5)))
            ++intact;
        else
            std::printf("restart %d: %s\n", i + 1, back ? "echo wrong or missing" : "no reconnect within 20 s");
    }
    std::sort(reconnectMs.begin(), reconnectMs.end());
    std::printf("restarts: %d/%d with 4 KiB echoed intact after each; back up after %.0f ms (median), %.0f ms (slowest)\n",
                intact, count, reconnectMs[reconnectMs.size() / 2], reconnectMs.back());
    return intact == count;
}

}  // namespace soak
