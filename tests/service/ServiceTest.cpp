// quorlinvcp-service as a user or systemd runs it, against the adapter simulator:
// the ports come up and carry data, status reports them, SIGTERM removes them, and
// a second service, a bad file or a missing one end at once with their reason.
#include "InstallPaths.h"
#include "AdapterServer.h"
#include "ServiceFolder.h"
#include "support/ChildProcess.h"
#include "support/ControlSocket.h"
#include "support/SerialApp.h"
#include "support/Waiting.h"
#include "vspdevices_holder.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iostream>
#include <regex>
#include <set>
#include <sstream>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using vsp::AdapterServer;

std::string redirectTo(std::uint16_t port, int com)
{
    return R"({"type":"Connector","init":")" + std::to_string(com) + R"(;0"},{"type":"TcpClient","init":"127.0.0.1;)" +
           std::to_string(port) + ";" + std::to_string(com) + R"(;19200,0,8,1,0,0;1;0;"})";
}

class Service : public ServiceFolder {
protected:
    std::string configuration(const std::string& name, const std::string& devices)
    {
        const std::string path = folder + "/" + name;
        std::ofstream(path) << R"({"format":"vspdevices-configuration","version":1,"devices":[)" << devices << "]}";
        return path;
    }
    std::unique_ptr<ChildProcess> start(const std::vector<std::string>& arguments, const std::string& log)
    {
        std::vector<std::string> all{QUORLINVCP_SERVICE};
        all.insert(all.end(), arguments.begin(), arguments.end());
        return std::make_unique<ChildProcess>(all, folder + "/" + log);
    }
    std::string log(const std::string& name) { return readAll(folder + "/" + name); }
    // Runs the service to its end: its exit status and what it wrote.
    std::pair<int, std::string> run(const std::vector<std::string>& arguments)
    {
        const std::string name = "run" + std::to_string(++runs) + ".log";
        const int status = start(arguments, name)->wait();
        return {status, log(name)};
    }
    // `quorlinvcp-service status ...`: its exit status and standard output alone.
    std::pair<int, std::string> status(const std::string& arguments = "")
    {
        std::FILE* pipe = ::popen((std::string(QUORLINVCP_SERVICE) + " status " + arguments + " 2>/dev/null").c_str(), "r");
        std::string out;
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, pipe))
            out += buffer;
        const int rc = ::pclose(pipe);
        return {WEXITSTATUS(rc), out};
    }
    std::string port(int com) const { return portDir + "/COM" + std::to_string(com); }
    bool exists(const std::string& path) const
    {
        struct stat st {};
        return ::lstat(path.c_str(), &st) == 0;
    }

    int runs = 0;
};

TEST_F(Service, RunsTheRedirectsReportsThemAndRemovesThePortsOnSigterm)
{
    AdapterServer adapter({.echo = true, .lines = 2});
    const std::string file = configuration("lab.qlc", redirectTo(adapter.port(), 5) + "," + redirectTo(adapter.port(), 6));
    const auto service = start({file}, "service.log");
    ASSERT_TRUE(waitUntil([&] { return adapter.clients() == 2 && exists(port(5)) && exists(port(6)); }))
        << log("service.log");
    const std::string address = "127.0.0.1:" + std::to_string(adapter.port());
    ASSERT_TRUE(waitUntil([&] {
        const std::string text = log("service.log");
        return text.find("COM5: connected to " + address) != std::string::npos &&
               text.find("COM6: settings sent to the adapter: 19200 baud, 8N1") != std::string::npos;
    })) << log("service.log");
    EXPECT_NE(log("service.log").find("COM5: " + port(5) + " <-> " + address + " (Telnet)"), std::string::npos);

    SerialApp app(port(5));
    std::this_thread::sleep_for(100ms);
    app.write({'p', 'i', 'n', 'g', 0xFF});
    EXPECT_EQ(app.read(5), (std::vector<std::uint8_t>{'p', 'i', 'n', 'g', 0xFF}));

    const auto [rc, lines] = status();
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(lines, "COM5\tup\t" + port(5) + "\t5\t5\t\t\t\t\nCOM6\tup\t" + port(6) + "\t0\t0\t\t\t\t\n");
    EXPECT_EQ(status("--paths"), std::make_pair(0, port(5) + "\n" + port(6) + "\n"));

    service->signal(SIGTERM);
    EXPECT_EQ(service->wait(), 0);
    EXPECT_TRUE(app.hungUp());
    for (const std::string& gone : {port(5), port(6), port(5) + ".control", port(6) + ".control"})
        EXPECT_FALSE(exists(gone)) << gone;
    EXPECT_TRUE(adapter.waitFor([&] { return adapter.clients() == 0; }));
    EXPECT_NE(log("service.log").find("stopping on SIGTERM"), std::string::npos);
    EXPECT_EQ(status().first, 3);  // nothing runs on the directory any more
}

TEST_F(Service, AStandardErrorNobodyReadsHoldsUpNeitherItsPortsNorItsStopAndTheLostLinesAreCounted)
{
    AdapterServer adapter({.echo = true});
    // Standard error is a pipe the test reads only when it chooses; the test fills it
    // through a descriptor of its own, non-blocking, leaving the service's blocking.
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    const std::string writeEnd = "/proc/self/fd/" + std::to_string(ends[1]);
    const int filler = ::open(writeEnd.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(filler, 0);
    const auto fill = [&] {  // to the last byte, so that not even a short line fits
        const std::string block(4095, '#');
        while (::write(filler, (block + "\n").data(), block.size() + 1) > 0) {
        }
        while (::write(filler, "\n", 1) > 0) {
        }
    };
    fill();
    ChildProcess service({QUORLINVCP_SERVICE, configuration("lab.qlc", redirectTo(adapter.port(), 5))}, writeEnd);
    ASSERT_TRUE(waitUntil([&] { return adapter.clients() == 1 && exists(port(5)); }));

    // Far more lines than the log holds back (each setting the adapter takes is one).
    SerialApp app(port(5));
    for (int i = 0; i < 1500; ++i) {
        const unsigned speed = i % 2 ? 9600 : 115200;
        app.setSpeed(speed);
        adapter.waitFor([&] { return adapter.settings().baud == speed; }, 1s);
    }
    app.write({'o', 'k'});
    EXPECT_EQ(app.read(2), (std::vector<std::uint8_t>{'o', 'k'})) << "the ports waited for the log";
    const std::string resumed = readPipeUntil(ends[0], "log lines were dropped", 10s);
    EXPECT_NE(resumed.find("log lines were dropped: standard error did not take them"), std::string::npos)
        << resumed.substr(resumed.size() - std::min<std::size_t>(resumed.size(), 300));

    fill();
    const auto signalled = std::chrono::steady_clock::now();
    service.signal(SIGTERM);
    const bool removed = waitUntil([&] { return !exists(port(5)) && adapter.clients() == 0; }, 3s);
    EXPECT_TRUE(removed) << "the stop waited for the log";
    if (!removed)
        ::close(std::exchange(ends[0], -1));  // lets the stuck write fail
    EXPECT_EQ(service.wait(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, 3s);
    for (const int fd : {ends[0], ends[1], filler})
        ::close(fd);
}

// A port directory another user made first (or anyone may write to), with a lock
// held in the name of quorlinvcp-service and ports of theirs: status lists none of
// it and the runner's refusal names what is wrong with the folder, not a holder.
TEST_F(Service, AFolderOfAnotherUserOrOpenToOthersIsNeitherListedNorNamedAsHeld)
{
    struct Case {
        const char* what;
        mode_t mode;
        bool otherOwner;
        std::string fault;
    } const cases[] = {
        {"a folder others may write to", 0777, false, "may be written by other users"},
        {"another user's folder", 0700, true, "belongs to another user (uid 65534)"},
    };
    for (const Case& c : cases) {
        if (c.otherOwner && ::geteuid() != 0) {
            std::cout << "[ SKIPPED  ] " << c.what << ": only root can make a folder of another user\n";
            continue;
        }
        fs::remove_all(portDir);
        ASSERT_EQ(::mkdir(portDir.c_str(), c.mode), 0);
        ASSERT_EQ(::chmod(portDir.c_str(), c.mode), 0);
        if (c.otherOwner)
            ASSERT_EQ(::chown(portDir.c_str(), 65534, 65534), 0);
        std::ofstream(portDir + "/.vspdevices.lock") << ::getpid() << " quorlinvcp-service\n";
        const int lock = ::open((portDir + "/.vspdevices.lock").c_str(), O_RDWR | O_CLOEXEC);
        ASSERT_EQ(::flock(lock, LOCK_EX | LOCK_NB), 0);
        fs::create_symlink("/dev/pts/0", port(7));

        const auto [rc, text] = run({"status"});
        EXPECT_EQ(rc, 69) << c.what;
        EXPECT_EQ(text, "quorlinvcp-service: not reading the port directory " + portDir + ": the folder " + c.fault + "\n");
        const auto [refused, refusal] = run({configuration("one.qlc", R"({"type":"Connector","init":"5;0"})")});
        EXPECT_EQ(refused, 69) << c.what;
        EXPECT_NE(refusal.find("cannot use the port directory " + portDir + ": the folder " + c.fault), std::string::npos)
            << refusal;
        EXPECT_EQ(refusal.find("pid"), std::string::npos) << refusal;
        ::close(lock);
    }
}

// CPU time a process has used so far (user and system), in clock ticks.
long cpuTicks(pid_t pid)
{
    const std::string stat = readAll("/proc/" + std::to_string(pid) + "/stat");
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    long user = 0, system = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14)
            user = std::stol(field);
        if (i == 15)
            system = std::stol(field);
    }
    return user + system;
}

// How many of a process's descriptor numbers below the limit are in use.
std::size_t openDescriptorsBelow(pid_t pid, std::size_t limit)
{
    std::size_t open = 0;
    for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd"))
        open += std::stoul(fd.path().filename().string()) < limit;
    return open;
}

// A runner whose clients took every descriptor it may have: a client beyond them is
// told Busy (a launched program's call fails with EBUSY, not ENOTTY), the runner
// idles meanwhile, and it takes clients again as soon as descriptors free up.
TEST_F(Service, OutOfDescriptorsTheRunnerRefusesClientsWithoutSpinningAndServesThemOnceSomeFree)
{
    using vsp::control::Op;
    using vsp::control::Status;
    const std::string file = configuration("two.qlc", R"({"type":"Connector","init":"5;0"},{"type":"Connector","init":"6;0"})");
    {
        // A runner started with the session's soft limit raises it to its hard one.
        ChildProcess raised({"sh", "-c", "ulimit -Sn 64 && exec \"$0\" \"$1\"", QUORLINVCP_SERVICE, file}, folder + "/raised.log");
        ASSERT_TRUE(waitUntil([&] { return exists(port(6)); })) << log("raised.log");
        const std::string limits = readAll("/proc/" + std::to_string(raised.pid()) + "/limits");
        std::smatch open;
        ASSERT_TRUE(std::regex_search(limits, open, std::regex(R"(Max open files +(\S+) +(\S+))"))) << limits;
        EXPECT_EQ(open[1], open[2]) << limits;
        EXPECT_NE(open[1], "64");
    }
    ASSERT_TRUE(waitUntil([&] { return !exists(port(6)); }));

    constexpr std::size_t limit = 48;
    ChildProcess runner({"sh", "-c", "ulimit -n " + std::to_string(limit) + " && exec \"$0\" \"$1\"", QUORLINVCP_SERVICE, file},
                        folder + "/runner.log");
    ASSERT_TRUE(waitUntil([&] { return exists(port(5) + ".control") && exists(port(6) + ".control"); })) << log("runner.log");
    std::vector<std::unique_ptr<ControlSocket>> crowd;
    while (openDescriptorsBelow(runner.pid(), limit) < limit) {
        crowd.push_back(std::make_unique<ControlSocket>(port(crowd.size() % 2 ? 6 : 5) + ".control"));
        const auto served = crowd.back()->ask({Op::Query, 0, 0});
        ASSERT_TRUE(served && served->status == Status::Unavailable) << crowd.size();
    }

    ControlSocket refused(port(5) + ".control");
    const auto busy = refused.reply();
    ASSERT_TRUE(busy.has_value());
    EXPECT_EQ(busy->status, Status::Busy);
    const std::string program = folder + "/program.log";
    ChildProcess launched({VSP_LAUNCHER, VSP_PORT_LINES_APP, port(5)}, program);
    EXPECT_EQ(launched.wait(), 0);
    EXPECT_EQ(readAll(program).rfind("opened error 16\n", 0), 0u) << readAll(program);  // EBUSY
    EXPECT_NE(status().second.find("COM5\tbusy\t" + port(5) + "\t\t\t\t\t\t\n"), std::string::npos);

    ControlSocket another(port(6) + ".control");  // one more while the runner is watched
    const long before = cpuTicks(runner.pid());
    std::this_thread::sleep_for(1s);
    const long ticks = cpuTicks(runner.pid()) - before;
    std::cout << "runner out of descriptors: " << ticks * 100 / ::sysconf(_SC_CLK_TCK) << " % of a core over 1 s\n";
    EXPECT_LT(ticks * 100 / ::sysconf(_SC_CLK_TCK), 10);

    crowd.clear();
    EXPECT_TRUE(waitUntil([&] {
        ControlSocket again(port(6) + ".control");
        const auto served = again.ask({Op::Query, 0, 0});
        return served && served->status == Status::Unavailable;
    }));
    runner.signal(SIGTERM);
    EXPECT_EQ(runner.wait(), 0);
}

// The first service logs to the journal, the second, refused, to a file.
TEST_F(Service, ASecondServiceOnTheSameDirectoryIsRefusedAndNamesTheFirstAndTheJournalGetsPrioritiesNotTimes)
{
    // systemd names the journal's stream in $JOURNAL_STREAM: "<device>:<inode>" of standard error.
    const std::string logPath = folder + "/journal.log";
    std::ofstream(logPath) << "";
    struct stat st {};
    ASSERT_EQ(::stat(logPath.c_str(), &st), 0);
    ::setenv("JOURNAL_STREAM", (std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino)).c_str(), 1);
    auto first = start({configuration("one.qlc", R"({"type":"Connector","init":"5;0"})")}, "journal.log");
    ::unsetenv("JOURNAL_STREAM");
    ASSERT_TRUE(waitUntil([&] { return exists(port(5)); })) << log("journal.log");

    const auto [rc, refusal] = run({configuration("two.qlc", R"({"type":"Connector","init":"6;0"})")});
    EXPECT_EQ(rc, 69);
    EXPECT_NE(refusal.find("quorlinvcp-service (pid " + std::to_string(first->pid()) + ") is using the port directory " +
                           portDir),
              std::string::npos)
        << refusal;
    EXPECT_EQ(refusal.substr(0, 2), "20") << "a time stamp where the stream is not the journal: " << refusal;
    EXPECT_TRUE(first->running());
    EXPECT_TRUE(exists(port(5)));
    EXPECT_FALSE(exists(port(6)));

    first->signal(SIGTERM);
    EXPECT_EQ(first->wait(), 0);
    const std::string text = log("journal.log");
    EXPECT_EQ(text.substr(0, text.find('\n')), "<5>running " + folder + "/one.qlc on the port directory " + portDir);
    EXPECT_NE(text.find("\n<4>the configuration has no redirect\n"), std::string::npos) << text;  // a port alone
    EXPECT_NE(text.find("\n<5>stopped\n"), std::string::npos) << text;
}

TEST_F(Service, AFileItCannotUseEndsItAtOnceWithItsReasonAndAStatusTheUnitDoesNotRestart)
{
    const std::string fifo = folder + "/fifo.qlc";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string sparse = folder + "/sparse.qlc";
    std::ofstream(sparse).close();
    ASSERT_EQ(::truncate(sparse.c_str(), off_t(1) << 30), 0);  // 1 GiB that takes no room
    const std::string deep = configuration("deep.qlc", std::string(5000, '[') + std::string(5000, ']'));
    const struct {
        std::vector<std::string> arguments;
        int status;
        std::string said;
    } cases[] = {
        {{folder + "/absent.qlc"}, 66, "cannot read the configuration " + folder + "/absent.qlc: No such file or directory"},
        {{folder + "/"}, 66, "the configuration " + folder + "/ is not a regular file"},
        {{fifo}, 66, "the configuration " + fifo + " is not a regular file"},
        {{sparse}, 65, "the configuration " + sparse + " was refused: larger than 1 MiB"},
        {{deep}, 65, "deep.qlc was refused: nested deeper than 16 levels"},
        {{configuration("broken.qlc", R"({"type":"Connector","init":"5;0"},{"type":"Connector")")}, 65,
         "broken.qlc was refused: not valid JSON (at byte "},
        {{configuration("clash.qlc", R"({"type":"Connector","init":"5;0"},{"type":"Connector","init":"5;0"})")}, 65,
         "clash.qlc was refused: device 2 (Connector \"5;0\") has the COM port of an earlier one"},
        {{}, 64, "Usage: quorlinvcp-service"},
        {{"one", "two"}, 64, "Usage: quorlinvcp-service"},
    };
    for (const auto& c : cases) {
        const auto before = std::chrono::steady_clock::now();
        const auto [rc, text] = run(c.arguments);
        EXPECT_EQ(rc, c.status) << c.said;
        EXPECT_NE(text.find(c.said), std::string::npos) << text;
        EXPECT_LT(std::chrono::steady_clock::now() - before, 2s) << c.said;
    }
    EXPECT_FALSE(vspdevices::portDirectoryHolder(portDir).has_value());  // nothing left holding the directory

    // The unit leaves these to the user: starting again would not mend them.
    std::istringstream unit(readAll(QVCP_USER_UNIT));
    std::set<int> kept;
    for (std::string line; std::getline(unit, line);)
        if (line.rfind("RestartPreventExitStatus=", 0) == 0)
            for (std::istringstream numbers(line.substr(line.find('=') + 1)); numbers;)
                if (int n = -1; numbers >> n)
                    kept.insert(n);
    EXPECT_EQ(kept, (std::set<int>{64, 65, 66, 69}));
}

TEST_F(Service, AConfigurationsNameIsLookedUpWhereThePackagedWindowKeepsItsFiles)
{
    // A copy in the system layout (its library in the layout's library folder), whose
    // files go to $XDG_CONFIG_HOME/QuorlinVCP.
    const std::string install = folder + "/install/bin";
    const std::string libraries = install + "/" QVCP_LIBRARY_DIR_FROM_PROGRAM;
    fs::create_directories(install);
    fs::create_directories(libraries);
    const fs::path built = fs::path(QUORLINVCP_SERVICE).parent_path();
    fs::copy_file(QUORLINVCP_SERVICE, install + "/quorlinvcp-service");
    for (const auto& entry : fs::directory_iterator(built))
        if (entry.path().filename().string().rfind("libvspdevices.so", 0) == 0)
            fs::copy(entry.path(), libraries + "/" + entry.path().filename().string(), fs::copy_options::copy_symlinks);
    fs::create_directories(folder + "/config/QuorlinVCP");
    std::ofstream(folder + "/config/QuorlinVCP/bench 2.qlc")
        << R"({"format":"vspdevices-configuration","version":1,"devices":[{"type":"Connector","init":"9;0"}]})";

    ::setenv("XDG_CONFIG_HOME", (folder + "/config").c_str(), 1);
    ChildProcess service({install + "/quorlinvcp-service", "bench 2"}, folder + "/named.log");
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_TRUE(waitUntil([&] { return exists(port(9)); })) << log("named.log");
}

TEST_F(Service, StatusSaysWhenNothingRunsAndDoesNotWaitLongForAPortThatNeverAnswers)
{
    EXPECT_EQ(status(), std::make_pair(3, std::string()));
    EXPECT_EQ(status("--paths"), std::make_pair(3, std::string()));

    // A holder whose port's channel takes the connection and never answers.
    fs::create_directories(portDir);
    ::chmod(portDir.c_str(), 0700);
    const int lock = ::open((portDir + "/.vspdevices.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_EQ(::flock(lock, LOCK_EX | LOCK_NB), 0);
    fs::create_symlink("/dev/pts/0", port(7));
    fs::create_symlink("/dev/null", port(8));  // not a port of the library's
    const int silent = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    (port(7) + ".control").copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(silent, 4), 0);

    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(status(), std::make_pair(0, "COM7\tunknown\t" + port(7) + "\t\t\t\t\t\t\n"));
    EXPECT_LT(std::chrono::steady_clock::now() - before, 3s);
    ::close(silent);
    ::close(lock);
}

}  // namespace
