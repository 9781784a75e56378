// The library's event handler as a service that logs it sees it: connections made,
// dropped (with why) and refused, the settings the adapter was sent, and a handler
// that, once replaced, is never called again.
#include "AdapterServer.h"
#include "support/LibraryFixture.h"
#include "support/SerialApp.h"

#include <mutex>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using vsp::AdapterServer;

struct Seen {
    int kind;
    int id;
    int com;
    int errorKind;
    std::string text;
};

class Events : public LibraryFixture {
protected:
    void SetUp() override
    {
        LibraryFixture::SetUp();
        vsp_setEventHandler(&Events::record, this);
    }
    void TearDown() override
    {
        vsp_setEventHandler(nullptr, nullptr);
        LibraryFixture::TearDown();
    }
    static void record(const vsp_event* event, void* context)
    {
        auto* self = static_cast<Events*>(context);
        EXPECT_EQ(event->size, sizeof(vsp_event));
        std::lock_guard lock(self->mutex);
        self->seen.push_back({event->kind, event->deviceId, event->com, event->errorKind, event->text});
    }
    std::vector<Seen> of(int kind)
    {
        std::lock_guard lock(mutex);
        std::vector<Seen> found;
        for (const Seen& s : seen)
            if (s.kind == kind)
                found.push_back(s);
        return found;
    }
    bool waitFor(int kind, std::size_t count = 1)
    {
        return waitUntil([&] { return of(kind).size() >= count; });
    }

    std::mutex mutex;
    std::vector<Seen> seen;
};

TEST_F(Events, AConnectionItsSettingsAChangeByTheApplicationAndADropAreReported)
{
    AdapterServer adapter({});
    ASSERT_GE(vsp_createDevice("Connector", "5;0"), 0);
    const int tcp = vsp_createDevice("TcpClient", client(adapter.port(), 5, "19200,0,7,2,2,0").c_str());
    ASSERT_EQ(vsp_startEmulation(), 1);

    ASSERT_TRUE(waitFor(VSP_EVENT_SETTINGS_SENT));
    const auto connected = of(VSP_EVENT_CONNECTED);
    ASSERT_EQ(connected.size(), 1u);
    EXPECT_EQ(connected[0].id, tcp);
    EXPECT_EQ(connected[0].com, 5);
    EXPECT_EQ(connected[0].text, "127.0.0.1:" + std::to_string(adapter.port()));
    EXPECT_EQ(of(VSP_EVENT_SETTINGS_SENT)[0].text, "19200 baud, 7E2");

    SerialApp app(portPath(5));
    ASSERT_TRUE(app.setSpeed(9600));
    ASSERT_TRUE(waitFor(VSP_EVENT_SETTINGS_SENT, 2));
    EXPECT_EQ(of(VSP_EVENT_SETTINGS_SENT)[1].text, "9600 baud, 7E2");

    adapter.dropClient();
    ASSERT_TRUE(waitFor(VSP_EVENT_DROPPED));
    const Seen dropped = of(VSP_EVENT_DROPPED)[0];
    EXPECT_EQ(dropped.id, tcp);
    EXPECT_TRUE(dropped.errorKind == VSP_ERROR_CLOSED_BY_PEER || dropped.errorKind == VSP_ERROR_RESET) << dropped.errorKind;
    EXPECT_FALSE(dropped.text.empty());
    // It comes back by itself, and the adapter is told the settings the application set.
    ASSERT_TRUE(waitFor(VSP_EVENT_CONNECTED, 2));
    ASSERT_TRUE(waitFor(VSP_EVENT_SETTINGS_SENT, 3));
    EXPECT_EQ(of(VSP_EVENT_SETTINGS_SENT)[2].text, "9600 baud, 7E2");
}

TEST_F(Events, RefusedAttemptsAreReportedWithTheirKindAndARawConnectionSendsNoSettings)
{
    AdapterServer adapter({.telnet = false});
    const std::uint16_t closedPort = [] {
        AdapterServer gone({});
        return gone.port();
    }();
    ASSERT_GE(vsp_createDevice("TcpClient", client(closedPort, 5).c_str()), 0);
    ASSERT_GE(vsp_createDevice("TcpClient", client(adapter.port(), 6, "19200,0,8,1,0,0", false).c_str()), 0);
    ASSERT_EQ(vsp_startEmulation(), 1);
    ASSERT_TRUE(waitFor(VSP_EVENT_CONNECT_FAILED, 2));  // retried, each attempt reported
    for (const Seen& failed : of(VSP_EVENT_CONNECT_FAILED)) {
        EXPECT_EQ(failed.com, 5);
        EXPECT_EQ(failed.errorKind, VSP_ERROR_REFUSED);
        EXPECT_NE(failed.text.find("refused"), std::string::npos) << failed.text;
    }
    ASSERT_TRUE(waitFor(VSP_EVENT_CONNECTED));
    EXPECT_EQ(of(VSP_EVENT_CONNECTED)[0].com, 6);
    std::this_thread::sleep_for(200ms);
    EXPECT_TRUE(of(VSP_EVENT_SETTINGS_SENT).empty());
}

TEST_F(Events, OnDemandClosingAndReinitializingAreReportedAsClosed)
{
    AdapterServer adapter({});
    ASSERT_GE(vsp_createDevice("Connector", "5;0"), 0);
    const int tcp = vsp_createDevice("TcpClient", client(adapter.port(), 5, "19200,0,8,1,0,0", true, true).c_str());
    ASSERT_EQ(vsp_startEmulation(), 1);
    {
        SerialApp app(portPath(5));
        app.write({1});
        ASSERT_TRUE(waitFor(VSP_EVENT_CONNECTED));
        ASSERT_EQ(vsp_reinitializeDevice(tcp), 1);
        ASSERT_TRUE(waitFor(VSP_EVENT_CLOSED));
        EXPECT_EQ(of(VSP_EVENT_CLOSED)[0].text, "reinitialized");
        ASSERT_TRUE(waitFor(VSP_EVENT_CONNECTED, 2));
    }
    ASSERT_TRUE(waitFor(VSP_EVENT_CLOSED, 2));
    EXPECT_EQ(of(VSP_EVENT_CLOSED)[1].text, "no application holds the port");
}

TEST_F(Events, StoppingReportsHowManyBytesFromThePortCouldNotReachTheAdapter)
{
    AdapterServer adapter({});
    adapter.stop();  // nothing listens: the bytes wait for a connection that never comes
    ASSERT_GE(vsp_createDevice("Connector", "5;0"), 0);
    ASSERT_GE(vsp_createDevice("TcpClient", client(adapter.port(), 5).c_str()), 0);
    ASSERT_EQ(vsp_startEmulation(), 1);
    {
        SerialApp app(portPath(5));
        app.write(std::vector<std::uint8_t>(1000, 'x'));
    }
    ASSERT_EQ(vsp_stopEmulation(), 1);
    const auto lost = of(VSP_EVENT_DATA_LOST);
    ASSERT_EQ(lost.size(), 1u);
    EXPECT_EQ(lost[0].text, "stopped with 1000 bytes from the port not sent");
}

TEST_F(Events, AReplacedHandlerIsNeverCalledAgain)
{
    AdapterServer adapter({});
    ASSERT_GE(vsp_createDevice("TcpClient", client(adapter.port(), 5).c_str()), 0);
    ASSERT_EQ(vsp_startEmulation(), 1);
    ASSERT_TRUE(waitFor(VSP_EVENT_CONNECTED));
    vsp_setEventHandler(nullptr, nullptr);
    const std::size_t before = [&] {
        std::lock_guard lock(mutex);
        return seen.size();
    }();
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(adapter.waitFor([&] { return adapter.connections() == i + 1 && adapter.clients() == 1; }));
        adapter.dropClient();
    }
    ASSERT_TRUE(adapter.waitFor([&] { return adapter.connections() == 4; }));
    std::lock_guard lock(mutex);
    EXPECT_EQ(seen.size(), before);
}

}  // namespace
