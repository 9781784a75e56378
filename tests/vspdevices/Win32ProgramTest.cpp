// A Windows program on a virtual port: comm_probe.exe (win32/comm_probe.c) run under
// Wine makes every communications call a Windows terminal or instrument program makes,
// and the adapter simulator shows what reached it. Through the launcher every call
// works; without it the data still crosses.
#include "AdapterServer.h"
#include "support/ChildProcess.h"
#include "support/LibraryFixture.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <unistd.h>

#ifndef VSP_COMM_PROBE
#define VSP_COMM_PROBE ""
#endif

namespace {

namespace fs = std::filesystem;
using vsp::AdapterServer;
using vsp::rfc2217::Message;
namespace rfc2217 = vsp::rfc2217;

// The launcher is built beside every other program, this one included.
std::string launcher()
{
    return (fs::read_symlink("/proc/self/exe").parent_path() / "quorlinvcp-run").string();
}

bool executable(const std::string& path)
{
    return !path.empty() && ::access(path.c_str(), X_OK) == 0;
}

// A Wine prefix of this test program's own, never the user's ~/.wine: made once per
// run (wineboot takes about ten seconds) and removed when the tests end. Wine runs
// headless and skips its Mono and Gecko installers.
class WinePrefix {
public:
    static const std::string& path() { return instance().path_; }
    static const std::string& failure() { return instance().failure_; }
    static void remove()
    {
        if (!made_)
            return;
        ChildProcess stop({VSP_WINESERVER, "-k"}, instance().path_ + "/../wineserver.log");
        stop.wait();
        fs::remove_all(fs::path(instance().path_).parent_path());
        made_ = false;
    }

private:
    static WinePrefix& instance()
    {
        static WinePrefix prefix;
        made_ = true;
        return prefix;
    }

    WinePrefix()
    {
        char pattern[] = "/tmp/vsp-wine-XXXXXX";
        if (!::mkdtemp(pattern)) {
            failure_ = "no temporary folder";
            return;
        }
        path_ = std::string(pattern) + "/prefix";
        ::setenv("WINEPREFIX", path_.c_str(), 1);
        ::setenv("WINEDEBUG", "-all", 0);  // a WINEDEBUG of the caller's (+comm) wins
        ::setenv("WINEDLLOVERRIDES", "mscoree,mshtml,winemenubuilder.exe=", 1);
        ::unsetenv("DISPLAY");
        ::unsetenv("WAYLAND_DISPLAY");
        const std::string log = std::string(pattern) + "/wineboot.log";
        ChildProcess boot({VSP_WINE, "wineboot", "-i"}, log);
        if (boot.wait() != 0 || !fs::is_directory(path_ + "/dosdevices"))
            failure_ = "wineboot failed: " + readAll(log);
    }

    std::string path_;
    std::string failure_;
    static inline bool made_ = false;
};

// One line of comm_probe's output: "SetCommState 9600 8N1: ok 9600 8N1".
struct Call {
    std::string name;
    bool ok = false;
    std::string line;
};

class Win32Program : public LibraryFixture {
protected:
    static void TearDownTestSuite() { WinePrefix::remove(); }

    void SetUp() override
    {
        LibraryFixture::SetUp();
        if (!*VSP_COMM_PROBE)
            GTEST_SKIP() << "comm_probe.exe was not built: x86_64-w64-mingw32-gcc is missing (scripts/setup installs it)";
        if (!executable(VSP_WINE) || !executable(VSP_WINESERVER))
            GTEST_SKIP() << "wine64 is not installed (scripts/setup installs it)";
        adapter = std::make_unique<AdapterServer>(AdapterServer::Options{
            .echo = true, .onCommand = [this](int, const Message& m) {
                std::lock_guard lock(mutex);
                commands.push_back(m);
            }});
        ASSERT_GE(vsp_createDevice("Connector", "5;0"), 0);
        const int tcp = vsp_createDevice("TcpClient", client(adapter->port(), 5, "57600,0,8,1,0,0").c_str());
        ASSERT_EQ(vsp_startEmulation(), 1);
        ASSERT_TRUE(waitUntil([&] { return state(tcp).ok == 1; })) << "no connection to the simulator";
    }

    // Maps the port as COM5 into the prefix and runs the program on it, after `wrapper`
    // when one is given; the calls it reported.
    std::vector<Call> runProbe(const std::vector<std::string>& wrapper)
    {
        if (!WinePrefix::failure().empty()) {
            ADD_FAILURE() << WinePrefix::failure();
            return {};
        }
        const fs::path com5 = fs::path(WinePrefix::path()) / "dosdevices" / "com5";
        fs::remove(com5);
        fs::create_symlink(portPath(5), com5);
        std::vector<std::string> arguments = wrapper;
        arguments.insert(arguments.end(), {VSP_WINE, VSP_COMM_PROBE, "COM5"});
        const std::string log = fs::path(portDir).parent_path() / "comm_probe.log";
        ChildProcess probe(arguments, log);
        EXPECT_TRUE(waitUntil([&] { return !probe.running(); }, std::chrono::seconds(40))) << "comm_probe.exe hangs";
        std::ifstream in(log);
        std::vector<Call> calls;
        for (std::string line; std::getline(in, line);) {
            output += line + "\n";
            const std::size_t colon = line.find(": ");
            const bool ok = colon != std::string::npos && line.compare(colon, 4, ": ok") == 0;
            if (ok || (colon != std::string::npos && line.compare(colon, 6, ": FAIL") == 0))
                calls.push_back({line.substr(0, colon), ok, line});  // not one of Wine's own messages
        }
        return calls;
    }

    static bool succeeded(const std::vector<Call>& calls, const std::string& name)
    {
        return std::any_of(calls.begin(), calls.end(), [&](const Call& c) { return c.name == name && c.ok; });
    }

    void expectSucceeded(const std::vector<Call>& calls, std::initializer_list<const char*> names) const
    {
        for (const char* name : names)
            EXPECT_TRUE(succeeded(calls, name)) << name << " did not succeed; the program said:\n" << output;
    }

    std::vector<Message> received()
    {
        std::lock_guard lock(mutex);
        return commands;
    }

    bool receivedText() const
    {
        const std::vector<std::uint8_t> data = adapter->received(1);
        return std::string(data.begin(), data.end()).find("QuorlinVCP echo 0123456789\r\n") != std::string::npos;
    }

    std::mutex mutex;
    std::vector<Message> commands;
    std::string output;  // the program's output, for failure messages
    std::unique_ptr<AdapterServer> adapter;  // last: its thread logs into the members above
};

// The SET-CONTROL values the adapter received, in order.
std::vector<std::uint32_t> controls(const std::vector<Message>& commands)
{
    std::vector<std::uint32_t> values;
    for (const Message& m : commands)
        if (m.code == rfc2217::SetControl)
            values.push_back(m.value);
    return values;
}

bool has(const std::vector<Message>& commands, std::uint8_t code, std::uint32_t value)
{
    return std::find(commands.begin(), commands.end(), Message{code, value, {}}) != commands.end();
}

// The buffers PURGE-DATA cleared: PurgeComm's receive and transmit clears may come as
// one command for both or one each.
std::uint32_t purged(const std::vector<Message>& commands)
{
    std::uint32_t buffers = 0;
    for (const Message& m : commands)
        if (m.code == rfc2217::PurgeData)
            buffers |= m.value;
    return buffers;
}

// True when `wanted` appears in `values` in its order, other values between.
bool inOrder(const std::vector<std::uint32_t>& values, const std::vector<std::uint32_t>& wanted)
{
    auto at = values.begin();
    for (std::uint32_t w : wanted) {
        at = std::find(at, values.end(), w);
        if (at == values.end())
            return false;
        ++at;
    }
    return true;
}

std::string describe(const std::vector<Message>& commands)
{
    std::string text;
    for (const Message& m : commands)
        text += "  " + rfc2217::describe(m) + "\n";
    return text;
}

// Through the launcher, and with the interposition library alone in LD_PRELOAD, as
// a Windows program started from the desktop menu gets it with the session opt-in on.
TEST_F(Win32Program, EveryCommCallWorksThroughTheLauncherAndReachesTheAdapter)
{
    if (!executable(launcher()))
        GTEST_SKIP() << "quorlinvcp-run is not built";
    const std::string library = (fs::path(launcher()).parent_path() / "libquorlinvcp-preload.so").string();
    for (const std::vector<std::string>& wrapper : {std::vector<std::string>{launcher()},
                                                    std::vector<std::string>{"env", "LD_PRELOAD=" + library}}) {
    SCOPED_TRACE(wrapper.back());
    {
        std::lock_guard lock(mutex);
        commands.clear();
    }
    const std::vector<Call> calls = runProbe(wrapper);

    for (const Call& call : calls)
        EXPECT_TRUE(call.ok) << call.line;
    expectSucceeded(calls, {"CreateFile", "GetCommState on opening", "SetCommState 9600 8N1", "GetCommState after 9600 8N1",
                            "echo at 9600 8N1", "SetCommState 19200 7E1", "GetCommState after 19200 7E1", "echo at 19200 7E1",
                            "EscapeCommFunction SETDTR", "EscapeCommFunction CLRDTR", "EscapeCommFunction SETRTS",
                            "EscapeCommFunction CLRRTS", "GetCommModemStatus with DTR and RTS on",
                            "GetCommModemStatus with DTR off", "GetCommModemStatus with DTR and RTS off", "SetCommBreak",
                            "ClearCommBreak", "PurgeComm", "WaitCommEvent EV_CTS", "WaitCommEvent EV_DSR", "WriteFile",
                            "echo by the WaitCommEvent reader"});

    // The last commands may still be on their way when the program ends.
    EXPECT_TRUE(adapter->waitFor([&] { return receivedText(); })) << "the program's bytes did not reach the adapter";
    const std::vector<std::uint32_t> lines{rfc2217::dtrOn, rfc2217::rtsOn, rfc2217::dtrOff, rfc2217::rtsOff, rfc2217::dtrOn,
                                           rfc2217::rtsOn, rfc2217::breakOn, rfc2217::breakOff, rfc2217::rtsOff,
                                           rfc2217::dtrOff, rfc2217::dtrOn, rfc2217::rtsOn};
    adapter->waitFor([&] { return inOrder(controls(received()), lines); });
    const std::vector<Message> got = received();
    // Each speed went out before the bytes written at it (the echo checks above).
    EXPECT_TRUE(has(got, rfc2217::SetBaudRate, 9600)) << describe(got);
    EXPECT_TRUE(has(got, rfc2217::SetBaudRate, 19200)) << describe(got);
    EXPECT_TRUE(has(got, rfc2217::SetDataSize, 7)) << describe(got);
    EXPECT_TRUE(has(got, rfc2217::SetParity, rfc2217::parityCode(vsp::Parity::Even))) << describe(got);
    // DTR, RTS and the break in the order the program set them.
    EXPECT_TRUE(inOrder(controls(got), lines)) << describe(got);
    EXPECT_EQ(purged(got), rfc2217::purgeBoth) << describe(got);
    }
}

// What a Windows program gets with no launcher: the port opens, its speeds and flushes
// reach the adapter and the data crosses, read without WaitCommEvent (which needs the
// modem lines).
TEST_F(Win32Program, WithoutTheLauncherSpeedsFlushesAndDataStillReachTheAdapter)
{
    const std::vector<Call> calls = runProbe({});
    expectSucceeded(calls, {"CreateFile", "SetCommState 9600 8N1", "GetCommState after 9600 8N1", "echo at 9600 8N1",
                            "SetCommState 19200 7E1", "echo at 19200 7E1", "SetCommTimeouts", "SetCommMask", "SetCommBreak",
                            "ClearCommBreak", "PurgeComm", "WriteFile"});
    EXPECT_TRUE(succeeded(calls, "echo by the WaitCommEvent reader") || succeeded(calls, "echo by plain reads"))
        << "the echo did not come back; the program said:\n"
        << output;
    EXPECT_TRUE(adapter->waitFor([&] { return receivedText(); })) << "the program's bytes did not reach the adapter";
    const std::vector<Message> got = received();
    EXPECT_TRUE(has(got, rfc2217::SetBaudRate, 9600)) << describe(got);
    EXPECT_TRUE(has(got, rfc2217::SetBaudRate, 19200)) << describe(got);
    EXPECT_EQ(purged(got), rfc2217::purgeBoth) << describe(got);
}

}  // namespace

// With the session opt-in on, every Windows program loads the interposition library:
// one that uses no port sees no difference.
TEST_F(Win32Program, AWindowsProgramThatUsesNoPortSeesNoDifferenceWithTheLibrary)
{
    if (!WinePrefix::failure().empty())
        GTEST_FAIL() << WinePrefix::failure();
    const std::string library = (fs::path(launcher()).parent_path() / "libquorlinvcp-preload.so").string();
    const std::string log = fs::path(portDir).parent_path() / "cmd.log";
    std::string outputs[2];
    int statuses[2];
    for (int withLibrary = 0; withLibrary < 2; ++withLibrary) {
        fs::remove(log);
        std::vector<std::string> arguments{VSP_WINE, "cmd", "/c", "echo", "hello", "&", "dir", "/b", "c:\\"};
        if (withLibrary)
            arguments.insert(arguments.begin(), {"env", "LD_PRELOAD=" + library});
        ChildProcess program(arguments, log);
        statuses[withLibrary] = program.wait();
        outputs[withLibrary] = readAll(log);
    }
    EXPECT_EQ(statuses[0], 0);
    EXPECT_EQ(statuses[1], statuses[0]);
    EXPECT_NE(outputs[0].find("hello"), std::string::npos) << outputs[0];
    EXPECT_EQ(outputs[1], outputs[0]);
}
