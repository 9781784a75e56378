// The adapter simulator as users and tests start it: a taken port is an error, not
// a crash, and one simulator serves several redirects at once, each on its own line.
#include "AdapterServer.h"
#include "support/ChildProcess.h"
#include "support/LibraryFixture.h"
#include "support/SerialApp.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <thread>

using vsp::AdapterServer;

namespace {

class AdapterSim : public LibraryFixture {};

TEST_F(AdapterSim, ATakenPortIsReportedAndEndsTheSimulatorWithStatus1)
{
    asio::io_context io;
    asio::ip::tcp::acceptor taken(io, {asio::ip::make_address("127.0.0.1"), 0});
    const std::uint16_t port = taken.local_endpoint().port();

    EXPECT_THROW(AdapterServer({.port = port}), std::system_error);

    const std::string log = portDir + "/../adapter-sim.log";
    ChildProcess sim({VSP_ADAPTER_SIM, "--port", std::to_string(port)}, log);
    EXPECT_EQ(sim.wait(), 1);
    const std::string output = readAll(log);
    EXPECT_NE(output.find("cannot listen on 127.0.0.1:" + std::to_string(port)), std::string::npos) << output;
}

// What a first-time user types: --help explains every option and exits 0; a wrong
// option says which and shows the usage, with status 2.
TEST_F(AdapterSim, HelpAndAWrongOptionAreExplained)
{
    struct Case {
        std::vector<std::string> arguments;
        int status;
        std::vector<std::string> says;
    };
    const Case cases[] = {
        {{"--help"}, 0, {"usage:", "--port N", "--lines N", "--raw", "--no-echo", "--ri on|off", "SIGUSR1"}},
        {{"-h"}, 0, {"usage:"}},
        {{"--speed", "9600"}, 2, {"unknown or incomplete option '--speed'", "usage:"}},
        {{"--port"}, 2, {"unknown or incomplete option '--port'"}},
    };
    for (const Case& c : cases) {
        const std::string log = portDir + "/../adapter-sim-help.log";
        std::filesystem::remove(log);
        std::vector<std::string> arguments{VSP_ADAPTER_SIM};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        ChildProcess sim(arguments, log);
        EXPECT_EQ(sim.wait(), c.status) << c.arguments[0];
        const std::string output = readAll(log);
        for (const std::string& text : c.says)
            EXPECT_NE(output.find(text), std::string::npos) << c.arguments[0] << " should say " << text << ":\n" << output;
    }
}

// The simulator program as a user drives it: a dropped connection comes back by
// itself, and an adapter off the network is retried until it is back.
TEST_F(AdapterSim, DropsAndGoesOffTheNetworkOnCommand)
{
    asio::io_context io;
    asio::ip::tcp::acceptor probe(io, {asio::ip::make_address("127.0.0.1"), 0});
    const std::uint16_t port = probe.local_endpoint().port();
    probe.close();
    const std::string log = portDir + "/../adapter-sim.log";
    ChildProcess sim({VSP_ADAPTER_SIM, "--port", std::to_string(port)}, log);
    auto logged = [&](const std::string& text, std::size_t times) {
        return waitUntil([&] {
            const std::string output = readAll(log);
            std::size_t found = 0;
            for (auto at = output.find(text); at != std::string::npos; at = output.find(text, at + 1))
                ++found;
            return found >= times;
        });
    };
    ASSERT_TRUE(logged("listening", 1));
    vsp_createDevice("Connector", "5;0");
    const int tcp = vsp_createDevice("TcpClient", client(port, 5, "9600,0,8,1,0,0").c_str());
    ASSERT_EQ(vsp_startEmulation(), 1);
    ASSERT_TRUE(logged("client connected", 1));

    sim.signal(SIGUSR1);
    ASSERT_TRUE(logged("dropping every connection", 1));
    EXPECT_TRUE(logged("client connected", 2));

    sim.signal(SIGUSR2);
    ASSERT_TRUE(logged("off the network", 1));
    EXPECT_TRUE(waitUntil([&] { return state(tcp).ok == 0; }));
    sim.signal(SIGUSR2);
    ASSERT_TRUE(logged("back on the network", 1));
    EXPECT_TRUE(logged("client connected", 3));
    EXPECT_TRUE(waitUntil([&] { return state(tcp).ok == 1; }));
}

TEST_F(AdapterSim, SeveralRedirectsToOneSimulatorEachGetALineOfTheirOwn)
{
    AdapterServer adapter({.echo = true, .lines = 2});
    vsp_createDevice("Connector", "5;0");
    vsp_createDevice("Connector", "6;0");
    const int five = vsp_createDevice("TcpClient", client(adapter.port(), 5, "9600,0,8,1,0,0").c_str());
    const int six = vsp_createDevice("TcpClient", client(adapter.port(), 6, "38400,0,8,1,0,0").c_str());
    ASSERT_EQ(vsp_startEmulation(), 1);
    ASSERT_TRUE(waitUntil([&] { return state(five).ok == 1 && state(six).ok == 1; }));
    ASSERT_TRUE(adapter.waitFor([&] { return adapter.settings(1).baud && adapter.settings(2).baud; }));
    const int lineOfFive = adapter.settings(1).baud == 9600u ? 1 : 2;
    EXPECT_EQ(adapter.settings(3 - lineOfFive).baud, 38400u);

    SerialApp appFive(portPath(5));
    SerialApp appSix(portPath(6));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // both counted as opened
    appFive.write({'f', 'i', 'v', 'e'});
    appSix.write({'s', 'i', 'x'});
    EXPECT_EQ(appFive.read(4), (std::vector<std::uint8_t>{'f', 'i', 'v', 'e'}));
    EXPECT_EQ(appSix.read(3), (std::vector<std::uint8_t>{'s', 'i', 'x'}));
    EXPECT_EQ(adapter.received(lineOfFive), (std::vector<std::uint8_t>{'f', 'i', 'v', 'e'}));
    EXPECT_EQ(adapter.received(3 - lineOfFive), (std::vector<std::uint8_t>{'s', 'i', 'x'}));

    adapter.send(3 - lineOfFive, {'!'});
    EXPECT_EQ(appSix.read(1), std::vector<std::uint8_t>{'!'});
    EXPECT_TRUE(appFive.read(1, std::chrono::milliseconds(200)).empty());
    EXPECT_EQ(adapter.connections(), 2);  // neither line pushed the other out
    EXPECT_EQ(adapter.clients(), 2);
}

}  // namespace
