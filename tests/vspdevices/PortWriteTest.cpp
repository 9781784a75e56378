// The way bytes from the adapter reach the application: straight into the port
// while it has room, queued while it is full, and dropped when the application
// goes away with bytes still queued.
#include "AdapterServer.h"
#include "support/LibraryFixture.h"
#include "support/SerialApp.h"

#include <ctime>
#include <thread>

using vsp::AdapterServer;

namespace {

class PortWrite : public LibraryFixture {
protected:
    void SetUp() override
    {
        LibraryFixture::SetUp();
        adapter = std::make_unique<AdapterServer>(AdapterServer::Options{});
        ASSERT_GE(vsp_createDevice("Connector", "5;0"), 0);
        tcp = vsp_createDevice("TcpClient", client(adapter->port(), 5).c_str());
        ASSERT_EQ(vsp_startEmulation(), 1);
        ASSERT_TRUE(waitUntil([&] { return state(tcp).ok == 1; }));
    }
    static double processCpuSeconds()
    {
        timespec t{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
    }

    std::unique_ptr<AdapterServer> adapter;
    int tcp = -1;
};

TEST_F(PortWrite, AnApplicationThatLeavesWithBytesQueuedLeavesNothingStaleAndNothingSpinning)
{
    auto first = openHeld(portPath(5));
    adapter->send(everyByte(4 * 1024));  // 1 MiB the application never reads
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    first->close();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));

    // Idle now: the library's thread waits instead of retrying a write nobody takes.
    const double before = processCpuSeconds();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_LT(processCpuSeconds() - before, 0.05);

    auto next = openHeld(portPath(5));
    // Nothing the library had queued for the previous application; at most what the
    // terminal's own input buffer (4 KiB) still held when it closed.
    EXPECT_LT(next->read(1 << 20, std::chrono::milliseconds(300)).size(), 4096u) << "bytes meant for the previous application";
    const std::vector<std::uint8_t> fresh = {'n', 'e', 'w', 0xFF};
    adapter->send(fresh);
    EXPECT_EQ(next->read(fresh.size()), fresh);
}

}  // namespace
