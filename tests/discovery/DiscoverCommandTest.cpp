// quorlinvcp-service discover against ser2net advertising over a real Avahi, and
// without any Avahi.
#include "support/DiscoveryScene.h"

#include <chrono>
#include <cstdio>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Discovered {
    int status = -1;
    std::string out;
    std::string err;
    double seconds = 0;
};

Discovered discover(const std::string& environment = "", const std::string& arguments = "")
{
    char errFile[] = "/tmp/qvcp-discover-err-XXXXXX";
    ::close(::mkstemp(errFile));
    Discovered run;
    const auto start = std::chrono::steady_clock::now();
    std::FILE* pipe =
        ::popen((environment + " " QUORLINVCP_SERVICE " discover " + arguments + " 2>" + errFile).c_str(), "r");
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        run.out.append(buffer, n);
    const int status = ::pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::ifstream err(errFile);
    std::getline(err, run.err, '\0');
    std::remove(errFile);
    return run;
}

TEST(Discover, ListsTheAdvertisedPortsWithTheirStackAndDevice)
{
    START_DISCOVERY_SCENE(scene);
    std::string expected;
    for (const char* line : DiscoveryScene::advertised)
        expected += std::string(line) + "\n";
    // ser2net registers its ports while the scene comes up; once Avahi knows them,
    // one run lists them all, sorted by name.
    Discovered run;
    for (auto until = std::chrono::steady_clock::now() + std::chrono::seconds(15);
         run.out != expected && std::chrono::steady_clock::now() < until;)
        run = discover();
    EXPECT_EQ(run.out, expected);
    EXPECT_EQ(run.status, 0);
    EXPECT_LT(run.seconds, 2.5) << "discover waited out its timeout instead of ending when Avahi had answered";
}

TEST(Discover, WithoutAvahiPrintsNothingAndSucceeds)
{
    char folder[] = "/tmp/qvcp-nobus-XXXXXX";
    ASSERT_TRUE(::mkdtemp(folder));
    const std::string bus = std::string(folder) + "/bus";
    // A system bus without Avahi on it, as on a machine where the daemon is not running.
    std::ofstream(std::string(folder) + "/bus.conf")
        << "<busconfig><type>system</type><listen>unix:path=" << bus << "</listen><auth>EXTERNAL</auth>"
        << "<policy context=\"default\"><allow user=\"*\"/><allow own=\"*\"/><allow send_destination=\"*\"/>"
        << "<allow receive_sender=\"*\"/>"
        << "</policy></busconfig>";
    ChildProcess dbus({"dbus-daemon", "--nofork", "--nopidfile", "--config-file=" + std::string(folder) + "/bus.conf"},
                      std::string(folder) + "/dbus.log");
    for (int i = 0; i < 100 && !std::filesystem::exists(bus); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(std::filesystem::exists(bus)) << "dbus-daemon did not start";

    for (const std::string& address : {"unix:path=" + std::string(folder) + "/no-bus", "unix:path=" + bus}) {
        const Discovered run = discover("DBUS_SYSTEM_BUS_ADDRESS=" + address);
        EXPECT_EQ(run.status, 0) << address;
        EXPECT_EQ(run.out, "") << address;
        EXPECT_NE(run.err.find("no Avahi daemon answers"), std::string::npos) << address << ": " << run.err;
        EXPECT_LT(run.seconds, 1.0) << address << ": it waited for a daemon that is not there";
    }
    std::filesystem::remove_all(folder);
}

TEST(Discover, RefusesWrongArguments)
{
    for (const char* arguments : {"--timeout", "--timeout 0", "--timeout 61", "--timeout 2x", "--bogus", "now"}) {
        const Discovered run = discover("DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent", arguments);
        EXPECT_EQ(run.status, 64) << arguments;
        EXPECT_NE(run.err.find("Usage: quorlinvcp-service"), std::string::npos) << arguments;
    }
}

}  // namespace
