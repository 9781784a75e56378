// An application that closes its port while the adapter's bytes still pour in: the
// library drops what was on its way to the port, without spinning, and the next
// application starts with nothing stale.
#include "AdapterServer.h"
#include "support/LibraryFixture.h"
#include "support/SerialApp.h"

#include <dirent.h>
#include <fstream>
#include <sstream>
#include <thread>
#include <unistd.h>

using vsp::AdapterServer;

namespace {

// CPU time (user + system) the library's I/O thread has used so far, in seconds.
double ioThreadCpuSeconds()
{
    double seconds = -1;
    DIR* tasks = ::opendir("/proc/self/task");
    while (const dirent* entry = tasks ? ::readdir(tasks) : nullptr) {
        const std::string task = std::string("/proc/self/task/") + entry->d_name;
        std::string name;
        std::getline(std::ifstream(task + "/comm"), name);
        if (name != "vspdevices-io")
            continue;
        std::string stat;
        std::getline(std::ifstream(task + "/stat"), stat);
        std::istringstream fields(stat.substr(stat.rfind(')') + 2));  // after "pid (comm) "
        std::string skip;
        for (int i = 3; i < 14; ++i)  // fields 3..13
            fields >> skip;
        unsigned long long user = 0;
        unsigned long long system = 0;
        fields >> user >> system;
        seconds = static_cast<double>(user + system) / static_cast<double>(::sysconf(_SC_CLK_TCK));
    }
    if (tasks)
        ::closedir(tasks);
    return seconds;
}

class PortClose : public LibraryFixture {};

TEST_F(PortClose, ClosingWithAWritePendingNeitherSpinsNorLeavesStaleBytes)
{
    AdapterServer adapter({});
    ASSERT_GE(vsp_createDevice("Connector", "5;0"), 0);
    const int tcp = vsp_createDevice("TcpClient", client(adapter.port(), 5).c_str());
    ASSERT_EQ(vsp_startEmulation(), 1);
    ASSERT_TRUE(waitUntil([&] { return state(tcp).ok == 1; }));

    auto app = std::make_unique<SerialApp>(portPath(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // counted as opened
    adapter.send(std::vector<std::uint8_t>(1 << 20, 'x'));       // far more than the port takes
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the port's buffers fill up
    app.reset();                                                  // closed without reading
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the close is seen

    const double before = ioThreadCpuSeconds();
    ASSERT_GE(before, 0) << "the library's I/O thread was not found";
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const double busy = ioThreadCpuSeconds() - before;
    RecordProperty("ioThreadCpuSecondsPerSecond", std::to_string(busy));
    EXPECT_LT(busy, 0.2) << "the I/O thread kept busy with a closed port";

    SerialApp next(portPath(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(next.read(1 << 20, std::chrono::milliseconds(300)).size(), 0u) << "stale bytes for the next application";
    const std::vector<std::uint8_t> fresh = {'f', 'r', 'e', 's', 'h'};
    adapter.send(fresh);
    EXPECT_EQ(next.read(64, std::chrono::milliseconds(500)), fresh);
}

}  // namespace
