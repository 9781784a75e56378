// Serial programs as users run them on a redirect's port, through quorlinvcp-run:
// a C program using every modem line, break and framing call, pyserial, picocom
// and tio. Each case checks what the adapter received (and when) and what the
// program read back; the same program without the launcher sees the plain
// pseudo-terminal as before.
#include "AdapterServer.h"
#include "support/ChildProcess.h"
#include "support/CommandLog.h"
#include "support/ControlSocket.h"
#include "support/LibraryFixture.h"

#include <csignal>
#include <fcntl.h>
#include <iostream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <filesystem>
#include <fstream>
#include <thread>

using vsp::AdapterServer;
using Strings = std::vector<std::string>;

namespace {

// Waits until a Unix socket takes connections.
void waitForListener(const std::string& path)
{
    waitUntil([&] { return ControlSocket(path).connected(); });
}

class Launcher : public LibraryFixture {
protected:
    void SetUp() override
    {
        LibraryFixture::SetUp();
        adapter = std::make_unique<AdapterServer>(AdapterServer::Options{
            .echo = true, .onCommand = [this](int, const vsp::rfc2217::Message& m) { log.add(m); }});
        ASSERT_GE(vsp_createDevice("Connector", "5;0"), 0);
        tcp = vsp_createDevice("TcpClient", client(adapter->port(), 5, "19200,1,8,1,0,0").c_str());
        ASSERT_EQ(vsp_startEmulation(), 1);
        ASSERT_TRUE(waitUntil([&] { return state(tcp).ok == 1; }));
        ASSERT_TRUE(adapter->waitFor([&] { return log.texts().size() >= 7; }));  // the settings, lines and mask
    }
    void TearDown() override
    {
        adapter.reset();
        LibraryFixture::TearDown();
    }

    // Runs a program to its end; its output.
    std::string run(const Strings& arguments)
    {
        const std::string out = portDir + "/../program.log";
        std::filesystem::remove(out);
        ChildProcess program(arguments, out);
        EXPECT_EQ(program.wait(), 0);
        return readAll(out);
    }
    // How long the break that the n-th "break on" started lasted.
    std::chrono::milliseconds breakLength(int n)
    {
        const auto entries = log.entries();
        for (std::size_t i = 0; i < entries.size(); ++i)
            if (entries[i].text == "SET-CONTROL 5 (break on)" && n-- == 0)
                for (std::size_t j = i + 1; j < entries.size(); ++j)
                    if (entries[j].text == "SET-CONTROL 6 (break off)")
                        return std::chrono::duration_cast<std::chrono::milliseconds>(entries[j].when - entries[i].when);
        return std::chrono::milliseconds(-1);
    }

    std::unique_ptr<AdapterServer> adapter;
    CommandLog log;
    int tcp = -1;
};

// The same program dynamically linked (the interposition library answers it) and
// statically linked (only the supervisor can): the same answers, the same commands.
TEST_F(Launcher, ACProgramSetsAndReadsTheLinesSendsBreaksAndSetsDataSizeAndParity)
{
    for (const char* program : {VSP_PORT_LINES_APP, VSP_PORT_LINES_STATIC}) {
    SCOPED_TRACE(program);
    // Cleared first: the previous program's close also ends in "RTS off", and the
    // wait must see this stty's close, or its close is still on the way when the
    // program opens.
    log.clear();
    run({VSP_LAUNCHER, "stty", "-F", portPath(5), "cs8", "-parenb"});  // as every run starts
    ASSERT_TRUE(adapter->waitFor([&] { return !log.texts().empty() && log.texts().back() == "SET-CONTROL 12 (RTS off)"; }));
    log.clear();
    const std::string output = run({VSP_LAUNCHER, program, portPath(5)});
    EXPECT_EQ(output,
              "opened DTR RTS CTS DSR CD\n"
              "wait woke\n"
              "rts off DTR DSR CD\n"
              "both off\n"
              "counted cts 3 dsr 1 dcd 1\n"
              "framing 7E\n"
              "framing 8M\n"
              "kernel framing 8M\n"
              "framing 8O\n"
              "kernel framing 7N\n"
              "child DTR RTS CTS DSR CD\n"
              "parent DTR RTS CTS DSR CD\n");
    ASSERT_TRUE(adapter->waitFor(
        [&] { return log.texts().back() == "SET-CONTROL 12 (RTS off)" && log.from("SET-CONTROL 8 (DTR on)").size() >= 25; }))
        << ::testing::PrintToString(log.texts());
    // In the order the program made them; the reset's two lines together; a line
    // set to the level it has is not sent again.
    EXPECT_EQ(log.from("SET-CONTROL 8 (DTR on)"),
              (Strings{"SET-CONTROL 8 (DTR on)", "SET-CONTROL 11 (RTS on)",                       // the open
                       "SET-CONTROL 12 (RTS off)", "SET-CONTROL 11 (RTS on)",                      // TIOCMBIC, TIOCMBIS
                       "SET-CONTROL 9 (DTR off)", "SET-CONTROL 12 (RTS off)",                      // TIOCMSET 0
                       "SET-CONTROL 8 (DTR on)", "SET-CONTROL 11 (RTS on)",                        // TIOCMSET both
                       "SET-CONTROL 12 (RTS off)", "SET-CONTROL 11 (RTS on)",                      // the same, DTR alone, TIOCMBIS
                       "SET-CONTROL 5 (break on)", "SET-CONTROL 6 (break off)",                    // TIOCSBRK, TIOCCBRK
                       "SET-CONTROL 5 (break on)", "SET-CONTROL 6 (break off)",                    // tcsendbreak
                       "SET-CONTROL 5 (break on)", "SET-CONTROL 6 (break off)",                    // TCSBRKP
                       "SET-DATASIZE 7", "SET-PARITY 3",                                           // 7E1
                       "SET-DATASIZE 8", "SET-PARITY 4",                                           // 8M1
                       "SET-PARITY 2", "SET-DATASIZE 7", "SET-PARITY 1",                           // 8O1, 7N1 raw
                       "SET-CONTROL 9 (DTR off)", "SET-CONTROL 12 (RTS off)"}));                   // the close
    EXPECT_GE(breakLength(0).count(), 90);
    EXPECT_GE(breakLength(1).count(), 240);
    EXPECT_GE(breakLength(2).count(), 490);
    }
}

// A Go program makes its system calls itself: only the supervisor reaches it. The
// open's settings, the lines, the wait, break and data reach the adapter in order.
TEST_F(Launcher, AGoProgramSetsAndReadsTheLinesWaitsSendsABreakAndItsFraming)
{
#ifndef VSP_GO_LINES
    GTEST_SKIP() << "go or golang-github-albenik-go-serial-dev is not installed";
#else
    const std::string output = run({VSP_LAUNCHER, VSP_GO_LINES, portPath(5)});
    EXPECT_EQ(output,
              "status cts true dsr true dcd true ri false\n"
              "framing 7E\n"
              "library setdtr error operating system error: bad address\n"
              "wait woke\n"
              "lines DTR DSR CD\n"
              "echo hello\n") << output;
    ASSERT_TRUE(adapter->waitFor([&] { return log.texts().back() == "SET-CONTROL 12 (RTS off)"; }));
    EXPECT_EQ(log.from("SET-CONTROL 8 (DTR on)"),
              (Strings{"SET-CONTROL 8 (DTR on)", "SET-CONTROL 11 (RTS on)",                // the open
                       "SET-DATASIZE 7", "SET-PARITY 3",                                   // its settings
                       "SET-CONTROL 12 (RTS off)", "SET-CONTROL 9 (DTR off)",              // TIOCMBIC
                       "SET-CONTROL 8 (DTR on)", "SET-CONTROL 11 (RTS on)",                // TIOCMBIS
                       "SET-CONTROL 5 (break on)", "SET-CONTROL 6 (break off)",            // TIOCSBRK, TIOCCBRK
                       "SET-CONTROL 9 (DTR off)", "SET-CONTROL 12 (RTS off)"}));           // the close
#endif
}

// The serial driver's own requests, which a pseudo-terminal refuses: answered as a
// 16550A UART without RS-485, through either way of reaching the program; tcdrain
// returns once the bytes have left toward the adapter.
TEST_F(Launcher, TheSerialDriversRequestsAreAnsweredAsAUartAnswersThem)
{
    for (const char* program : {VSP_PORT_LINES_APP, VSP_PORT_LINES_STATIC}) {
        SCOPED_TRACE(program);
        EXPECT_EQ(run({VSP_LAUNCHER, program, portPath(5), "driver"}),
                  "opened DTR RTS CTS DSR CD\n"
                  "serial type 4 fifo 16 baud_base 115200 low_latency 0\n"
                  "low_latency 1\n"
                  "rs485 flags 0\n"
                  "rs485 on Inappropriate ioctl for device\n"
                  "lsr empty\n");
    }
    EXPECT_EQ(run({VSP_PORT_LINES_APP, portPath(5), "driver"}).rfind("opened error 25\nserial error 25\n", 0), 0u);
}

TEST_F(Launcher, WithoutTheLauncherAProgramSeesThePlainPseudoTerminal)
{
    const std::string output = run({VSP_PORT_LINES_APP, portPath(5)});
    EXPECT_EQ(output.rfind("opened error 25\n", 0), 0u) << output;  // ENOTTY, as before
    EXPECT_NE(output.find("framing 8N\n"), std::string::npos) << output;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    for (const std::string& command : log.texts())
        EXPECT_TRUE(command.rfind("SET-CONTROL 5", 0) != 0 && command.rfind("SET-DATASIZE 7", 0) != 0) << command;
}

// The ports' owner starts again (systemd restarts a runner that failed) while a
// program holds COM5: the program's descriptor is the old, hung-up terminal, and
// COM5's new channel serves a new one. Nothing the program does on its old
// descriptor may reach the adapter through the new port: it is a dead port.
TEST_F(Launcher, AProgramHoldingAPortAcrossARestartSeesADeadPortNotTheNewOne)
{
    const std::string out = portDir + "/../held.log";
    ChildProcess program({VSP_LAUNCHER, VSP_PORT_LINES_APP, portPath(5), "hold"}, out);
    auto output = [&] { return readAll(out); };
    ASSERT_TRUE(waitUntil([&] { return output().find("holding\n") != std::string::npos; })) << output();

    vsp_release();
    ASSERT_EQ(vsp_initialize(), 1);
    ASSERT_GE(vsp_createDevice("Connector", "5;0"), 0);
    tcp = vsp_createDevice("TcpClient", client(adapter->port(), 5, "19200,1,8,1,0,0").c_str());
    ASSERT_EQ(vsp_startEmulation(), 1);
    ASSERT_TRUE(waitUntil([&] { return state(tcp).ok == 1; }));
    ASSERT_TRUE(adapter->waitFor([&] { return log.texts().size() >= 14; }));  // the new session's settings and lines
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const std::size_t before = log.texts().size();

    program.signal(SIGUSR1);
    EXPECT_EQ(program.wait(), 0);
    EXPECT_EQ(output(), "opened DTR RTS CTS DSR CD\nholding\nlower Input/output error\nraise Input/output error\n"
                        "after error 5\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const Strings all = log.texts();
    EXPECT_EQ(Strings(all.begin() + static_cast<std::ptrdiff_t>(before), all.end()), Strings{});
}

// stty opens, sets and closes faster than the port confirms an open: the adapter
// still gets the framing, between the lines' rise and fall as on a real port.
TEST_F(Launcher, SttySetsSevenBitsEvenParityAndLeavesTheLinesDown)
{
    const std::size_t before = log.texts().size();
    run({VSP_LAUNCHER, "stty", "-F", portPath(5), "cs7", "parenb", "-parodd"});
    ASSERT_TRUE(adapter->waitFor([&] { return log.texts().size() >= before + 6; }));
    const Strings all = log.texts();
    EXPECT_EQ(Strings(all.begin() + static_cast<std::ptrdiff_t>(before), all.end()),
              (Strings{"SET-CONTROL 8 (DTR on)", "SET-CONTROL 11 (RTS on)", "SET-DATASIZE 7", "SET-PARITY 3",
                       "SET-CONTROL 9 (DTR off)", "SET-CONTROL 12 (RTS off)"}));
}

// A port whose channel does not answer (a stale socket left by a crashed run, or a
// library without one): the program gets what the plain pseudo-terminal gives, at once.
TEST(LauncherFallback, AStaleControlSocketLeavesTheProgramAsWithoutTheLauncher)
{
    char pattern[] = "/tmp/vsp-stale-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    ASSERT_EQ(::symlink(::ptsname(master), (dir + "/COM7").c_str()), 0);
    {
        asio::io_context io;
        asio::local::stream_protocol::acceptor stale(io, asio::local::stream_protocol::endpoint(dir + "/COM7.control"));
    }
    ::setenv("VSP_PORT_DIR", dir.c_str(), 1);
    const auto started = std::chrono::steady_clock::now();
    ChildProcess program({VSP_LAUNCHER, VSP_PORT_LINES_APP, dir + "/COM7"}, dir + "/program.log");
    EXPECT_EQ(program.wait(), 0);
    ::unsetenv("VSP_PORT_DIR");
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    const std::string output = readAll(dir + "/program.log");
    EXPECT_EQ(output.rfind("opened error 25\n", 0), 0u) << output;
    EXPECT_NE(output.find("7E1 error 22\n"), std::string::npos) << output;  // the C library's own answer on a pty
    ::close(master);
    std::filesystem::remove_all(dir);
}

// A channel that answers every request at once with every line but RI up, for the
// terminal given, served by a child process as the user given: what another
// user's socket can say. Returns once it listens.
pid_t fakeChannel(const std::string& path, std::uint64_t terminal, uid_t user)
{
    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return -1;
    const pid_t pid = ::fork();
    if (pid != 0) {
        ::close(listener);
        if (pid > 0)  // listening once a connection is taken
            waitForListener(path);
        return pid;
    }
    // The listening socket's credentials are its process's at listen().
    if ((user != ::geteuid() && (::setgid(user) != 0 || ::setuid(user) != 0)) || ::listen(listener, 8) != 0)
        ::_exit(1);
    ::signal(SIGCHLD, SIG_IGN);  // each client is served by a process of its own, reaped at once
    for (;;) {
        const int client = ::accept(listener, nullptr, nullptr);
        if (client < 0)
            continue;
        if (::fork() != 0) {
            ::close(client);
            continue;
        }
        std::uint8_t in[vsp::control::recordSize];
        while (::recv(client, in, sizeof in, MSG_WAITALL) == static_cast<ssize_t>(sizeof in)) {
            vsp::control::Reply reply;
            reply.op = static_cast<vsp::control::Op>(in[6]);
            reply.lines = vsp::control::outputLines | (vsp::control::inputLines & ~vsp::control::lineRi);
            reply.terminal = terminal;
            std::uint8_t out[vsp::control::recordSize];
            vsp::control::encode(reply, out);
            ::send(client, out, sizeof out, MSG_NOSIGNAL);
        }
        ::_exit(0);
    }
}

// A port directory's links and sockets are believed only in a folder the library
// would use, and a socket only when the user's own process serves it; otherwise a
// program through the launcher sees its terminal as it is.
TEST(LauncherFallback, PortsInAFolderOrOnASocketOfAnotherUserAreNotBelieved)
{
    constexpr uid_t nobody = 65534;
    struct Case {
        const char* what;
        mode_t mode;
        bool otherOwner, otherServer;
        const char* firstLine;
    } const cases[] = {
        {"the user's own folder and socket", 0700, false, false, "opened DTR RTS CTS DSR CD\n"},
        {"a folder others may write to", 0777, false, false, "opened error 25\n"},
        {"another user's folder", 0700, true, false, "opened error 25\n"},
        {"another user's socket", 0700, false, true, "opened error 25\n"},
    };
    for (const Case& c : cases) {
        if ((c.otherOwner || c.otherServer) && ::geteuid() != 0) {
            std::cout << "[ SKIPPED  ] " << c.what << ": only root can make what belongs to another user\n";
            continue;
        }
        char pattern[] = "/tmp/vsp-foreign-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        const std::string dir = pattern;
        ASSERT_EQ(::chmod(dir.c_str(), c.mode), 0);
        if (c.otherOwner)
            ASSERT_EQ(::chown(dir.c_str(), nobody, nobody), 0);
        const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master, 0);
        ASSERT_EQ(::grantpt(master), 0);
        ASSERT_EQ(::unlockpt(master), 0);
        ASSERT_EQ(::symlink(::ptsname(master), (dir + "/COM7").c_str()), 0);
        struct stat terminal {};
        ASSERT_EQ(::stat(::ptsname(master), &terminal), 0);
        const pid_t server = fakeChannel(dir + "/COM7.control", terminal.st_rdev, c.otherServer ? nobody : ::geteuid());
        ASSERT_GT(server, 0);

        ::setenv("VSP_PORT_DIR", dir.c_str(), 1);
        const std::string log = "/tmp/" + std::string(pattern + 5) + ".log";
        ChildProcess program({VSP_LAUNCHER, VSP_PORT_LINES_APP, dir + "/COM7", "hold"}, log);
        ::unsetenv("VSP_PORT_DIR");
        const auto output = [&] { return readAll(log); };
        waitUntil([&] { return output().find("holding\n") != std::string::npos; });
        program.signal(SIGUSR1);
        EXPECT_EQ(program.wait(), 0) << c.what;
        EXPECT_NE(output().find(c.firstLine), std::string::npos) << c.what << "\n" << output();
        if (c.mode == 0777)  // the launcher names what it does not use
            EXPECT_EQ(output().rfind("quorlinvcp-run: not using the ports in " + dir + ": the folder may be written by other users\n", 0), 0u)
                << output();
        ::kill(server, SIGKILL);
        ::waitpid(server, nullptr, 0);
        ::close(master);
        std::filesystem::remove(log);
        std::filesystem::remove_all(dir);
    }
}

TEST_F(Launcher, PyserialReadsTheLinesSendsABreakAndSetsSevenBitsEvenParity)
{
    if (!std::filesystem::exists("/usr/lib/python3/dist-packages/serial"))
        GTEST_SKIP() << "python3-serial is not installed (scripts/setup)";
    const std::string output = run({VSP_LAUNCHER, "/usr/bin/python3", VSP_PYSERIAL_SCRIPT, portPath(5)});
    EXPECT_EQ(output,
              "opened cts=True dsr=True cd=True ri=False\n"
              "dtr off dsr=False cd=False\n"
              "rts off cts=False\n"
              "framing 7E\n"
              "echo b'hello'\n");
    ASSERT_TRUE(adapter->waitFor([&] { return log.texts().back() == "SET-CONTROL 12 (RTS off)" && breakLength(0).count() >= 0; }));
    const Strings commands = log.from("SET-CONTROL 8 (DTR on)");
    EXPECT_EQ(commands, (Strings{"SET-CONTROL 8 (DTR on)", "SET-CONTROL 11 (RTS on)",                  // the open
                                 "SET-DATASIZE 7", "SET-PARITY 3",                                     // pyserial's settings
                                 // (its raising DTR and RTS again changes nothing)
                                 "PURGE-DATA 1 (receive buffer)",                                      // the open's input flush
                                 "SET-CONTROL 9 (DTR off)", "SET-CONTROL 12 (RTS off)",                // .dtr = False, .rts = False
                                 "SET-CONTROL 5 (break on)", "SET-CONTROL 6 (break off)",              // send_break
                                 "PURGE-DATA 1 (receive buffer)",                                      // reset_input_buffer
                                 "SET-CONTROL 9 (DTR off)", "SET-CONTROL 12 (RTS off)"}));             // the close
    EXPECT_GE(breakLength(0).count(), 90);  // pyserial asks tcsendbreak for 0.3 / 0.25 = 1, a tenth of a second
    EXPECT_EQ(adapter->received(), (std::vector<std::uint8_t>{'h', 'e', 'l', 'l', 'o'}));
}

TEST_F(Launcher, PicocomPulsesDtrAndShowsTheModemLines)
{
    if (!ChildProcess::onPath("picocom"))
        GTEST_SKIP() << "picocom is not installed (scripts/setup)";
    // C-a C-p pulses DTR, C-a C-v shows the lines, C-a C-x ends picocom.
    const std::string keys = "(sleep 0.5; printf '\\001\\020'; sleep 2; printf '\\001\\026'; sleep 0.3; printf '\\001\\030')";
    const std::string output = run({"sh", "-c", keys + " | " + VSP_LAUNCHER + " picocom -b 19200 " + portPath(5)});
    EXPECT_NE(output.find("mctl: DTR:1 DSR:1 DCD:1 RTS:1 CTS:1 RI:0"), std::string::npos) << output;
    ASSERT_TRUE(adapter->waitFor([&] { return log.texts().back() == "SET-CONTROL 12 (RTS off)"; }));
    const auto entries = log.entries();
    auto at = [&](const std::string& text, std::size_t from) {
        for (std::size_t i = from; i < entries.size(); ++i)
            if (entries[i].text == text)
                return i;
        return entries.size();
    };
    const std::size_t opened = at("SET-CONTROL 8 (DTR on)", 0);
    const std::size_t lowered = at("SET-CONTROL 9 (DTR off)", opened);
    const std::size_t raised = at("SET-CONTROL 8 (DTR on)", lowered);
    ASSERT_LT(raised, entries.size()) << testing::PrintToString(log.texts());
    EXPECT_GE(entries[raised].when - entries[lowered].when, std::chrono::milliseconds(900));  // a one-second pulse
}

TEST_F(Launcher, TioShowsTheLineStatesAndTogglesDtr)
{
    if (!ChildProcess::onPath("tio") || !ChildProcess::onPath("script"))
        GTEST_SKIP() << "tio is not installed (scripts/setup)";
    // tio takes key commands only from a terminal: script gives it one. C-t L shows the
    // lines, C-t g 0 toggles DTR, C-t q ends tio.
    const std::string keys = "(sleep 0.7; printf '\\024L'; sleep 0.3; printf '\\024g'; sleep 0.3; printf 0; sleep 0.7;"
                             " printf '\\024L'; sleep 0.3; printf '\\024q'; sleep 0.3)";
    const std::string output =
        run({"sh", "-c", keys + " | script -qfec '" + VSP_LAUNCHER + " tio -b 19200 " + portPath(5) + "' /dev/null"});
    // tio prints each line as " DTR: HIGH" between its time stamp and colour codes:
    // each line's level before and after the toggle.
    std::string states;
    for (const char* line : {" DTR: ", " RTS: ", " CTS: ", " DSR: ", " DCD: ", " RI : "})
        for (std::size_t at = output.find(line); at != std::string::npos; at = output.find(line, at + 1))
            states += std::string(line + 1, 3) + (output.compare(at + 6, 4, "HIGH") == 0 ? "1 " : "0 ");
    EXPECT_EQ(states, "DTR1 DTR0 RTS1 RTS1 CTS1 CTS1 DSR1 DSR0 DCD1 DCD0 RI 0 RI 0 ") << output;
    // The adapter's loop-back took DSR and DCD down with DTR; only DTR was sent.
    ASSERT_TRUE(adapter->waitFor([&] { return log.texts().back() == "SET-CONTROL 12 (RTS off)"; }));
    Strings controls;
    for (const std::string& command : log.from("SET-CONTROL 8 (DTR on)"))
        if (command.rfind("SET-CONTROL", 0) == 0)
            controls.push_back(command);
    EXPECT_EQ(controls, (Strings{"SET-CONTROL 8 (DTR on)", "SET-CONTROL 11 (RTS on)",    // the open
                                 "SET-CONTROL 9 (DTR off)",                              // C-t g 0
                                 "SET-CONTROL 9 (DTR off)", "SET-CONTROL 12 (RTS off)"}))  // the close
        << testing::PrintToString(log.texts());
}

// The state letter of a process (R, S, T, Z...), from /proc.
char processState(int pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const auto end = line.rfind(')');
    return end == std::string::npos || end + 2 >= line.size() ? '?' : line[end + 2];
}

// The one child of a process.
int childOf(int pid)
{
    std::ifstream children("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
    int child = -1;
    children >> child;
    return child;
}

}  // namespace

// The launcher keeps the program as its child to supervise it: the program's end
// is the launcher's (status or signal), a signal sent to the launcher reaches the
// program, and a stopped program stops the launcher too, as a shell expects of a job.
TEST(LauncherLifecycle, EndsAsTheProgramPassesSignalsOnAndStopsWithIt)
{
    char pattern[] = "/tmp/vsp-launch-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string dir = pattern, log = dir + "/out.log";
    struct Case {
        std::vector<std::string> arguments;
        int status;
        std::string output;
    };
    for (const Case& c : {Case{{"sh", "-c", "exit 3"}, 3, ""}, Case{{"sh", "-c", "kill -TERM $$"}, 128 + SIGTERM, ""},
                          Case{{"no-such-program-here"}, 127, "quorlinvcp-run: no-such-program-here: No such file or directory\n"}}) {
        std::vector<std::string> arguments{VSP_LAUNCHER};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        std::filesystem::remove(log);
        ChildProcess launcher(arguments, log);
        EXPECT_EQ(launcher.wait(), c.status) << c.arguments.front();
        EXPECT_EQ(readAll(log), c.output);
    }

    std::filesystem::remove(log);
    ChildProcess launcher({VSP_LAUNCHER, "sh", "-c", "trap 'echo got USR1; exit 0' USR1; echo ready; while :; do sleep 0.05; done"}, log);
    ASSERT_TRUE(waitUntil([&] { return readAll(log) == "ready\n"; }));
    const int program = childOf(launcher.pid());
    ASSERT_GT(program, 0);
    ::kill(program, SIGSTOP);
    EXPECT_TRUE(waitUntil([&] { return processState(launcher.pid()) == 'T'; })) << "the launcher did not stop with the program";
    ::kill(launcher.pid(), SIGCONT);
    EXPECT_TRUE(waitUntil([&] { return processState(program) != 'T'; })) << "the program did not go on with the launcher";
    launcher.signal(SIGUSR1);
    EXPECT_EQ(launcher.wait(), 0);
    EXPECT_EQ(readAll(log), "ready\ngot USR1\n");
    std::filesystem::remove_all(dir);
}

// A program that leaves a child behind (a daemon) and ends: the launcher ends with it,
// and a detached supervisor goes on answering the child on the port.
TEST_F(Launcher, AChildThatOutlivesTheProgramIsStillSupervised)
{
    const std::string out = portDir + "/../daemon.log";
    const std::string command = std::string(VSP_PORT_LINES_STATIC) + " " + portPath(5) + " driver > " + out + " 2>&1 &";
    ChildProcess launcher({VSP_LAUNCHER, "sh", "-c", command}, portDir + "/../launcher.log");
    EXPECT_EQ(launcher.wait(), 0);
    ASSERT_TRUE(waitUntil([&] { return readAll(out).find("lsr") != std::string::npos; }));
    EXPECT_EQ(readAll(out).rfind("opened DTR RTS CTS DSR CD\nserial type 4", 0), 0u) << readAll(out);
}
