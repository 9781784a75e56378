// quorlinvcp-run --session on|off in a home folder of the test's own: the session's
// environment files as systemd's own generator and a shell read them, the user's
// ~/.xsessionrc as it was after off, and programs of a session that never touch a
// port unchanged by the library the session then loads.
#include "support/Waiting.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

const std::string generator = "/usr/lib/systemd/user-environment-generators/30-systemd-environment-d-generator";

struct Outcome {
    int status = -1;
    std::string out, err;
    bool operator==(const Outcome&) const = default;
};

// Runs a program with exactly the environment given, stdin from /dev/null.
Outcome run(const Strings& arguments, const Strings& environment, const fs::path& scratch)
{
    std::vector<char*> argv, envp;
    for (const std::string& a : arguments)
        argv.push_back(const_cast<char*>(a.c_str()));
    for (const std::string& e : environment)
        envp.push_back(const_cast<char*>(e.c_str()));
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    const std::string out = scratch / "out", err = scratch / "err";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    Outcome outcome;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) == 0) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    posix_spawn_file_actions_destroy(&actions);
    outcome.out = readAll(out);
    outcome.err = readAll(err);
    return outcome;
}

class SessionOptIn : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/vsp-session-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir = pattern;
        fs::create_directory(home());
    }
    void TearDown() override { fs::remove_all(dir); }

    fs::path home() const { return dir / "home"; }
    // A login's environment: XDG_CONFIG_HOME unset, so both readers use ~/.config.
    Strings session() const { return {"HOME=" + home().string(), "PATH=/usr/bin:/bin", "LANG=C.UTF-8"}; }
    Outcome launcher(const std::string& action) const { return run({VSP_LAUNCHER, "--session", action}, session(), dir); }

    fs::path dir;
    const std::string library = fs::canonical(fs::path(VSP_LAUNCHER).parent_path() / "libquorlinvcp-preload.so");
};

TEST_F(SessionOptIn, OnLoadsTheLibraryInBothSessionFilesAndOffLeavesTheUsersFileAsItWas)
{
    const fs::path rc = home() / ".xsessionrc";
    const fs::path conf = home() / ".config/environment.d/60-quorlinvcp.conf";
    // The user's own file, with and without a last newline; none at all.
    for (const char* before : {"export LANG=de_DE.UTF-8\n# mine\n\n", "xrdb -merge ~/.Xresources", static_cast<const char*>(nullptr)}) {
        SCOPED_TRACE(before ? before : "no ~/.xsessionrc");
        if (before) {
            std::ofstream(rc, std::ios::binary) << before;
            fs::permissions(rc, fs::perms(0640));
        }
        ASSERT_EQ(launcher("on").status, 0);
        const std::string turnedOn = readAll(rc);
        EXPECT_EQ(launcher("on"), (Outcome{0, "The session opt-in is already on: every program of your next sessions loads " +
                                                  library + ".\n", ""}));
        EXPECT_EQ(readAll(rc), turnedOn);
        // Xsession sources the file under set -e, with or without an LD_PRELOAD of the user's.
        const Strings shell = {"sh", "-ec", ". \"$HOME/.xsessionrc\" && . \"$HOME/.xsessionrc\" && echo \"$LD_PRELOAD\""};
        Strings withOwn = session();
        withOwn.push_back("LD_PRELOAD=libc.so.6");
        if (!before || std::string(before).starts_with("export")) {
            EXPECT_EQ(run(shell, session(), dir), (Outcome{0, library + "\n", ""}));
            EXPECT_EQ(run(shell, withOwn, dir), (Outcome{0, "libc.so.6:" + library + "\n", ""}));
        }
        if (fs::exists(generator)) {
            EXPECT_NE(("\n" + run({generator}, session(), dir).out).find("\nLD_PRELOAD=" + library + "\n"), std::string::npos);
            EXPECT_NE(("\n" + run({generator}, withOwn, dir).out).find("\nLD_PRELOAD=libc.so.6:" + library + "\n"),
                      std::string::npos);
        }
        const Outcome status = launcher("status");
        EXPECT_EQ(status.out.rfind("Next login: on\n", 0), 0u) << status.out;

        EXPECT_EQ(launcher("off").status, 0);
        EXPECT_FALSE(fs::exists(conf));
        if (before) {
            EXPECT_EQ(readAll(rc), before);
            EXPECT_EQ(fs::status(rc).permissions(), fs::perms(0640));
        } else {
            EXPECT_FALSE(fs::exists(rc));
        }
        EXPECT_EQ(launcher("off").out.rfind("The session opt-in is already off", 0), 0u);
        fs::remove(rc);
    }
    EXPECT_EQ(launcher("maybe").status, 64);
    // A file where the folder must be: refused, naming it.
    fs::remove_all(home() / ".config");
    std::ofstream(home() / ".config");
    const Outcome blocked = launcher("on");
    EXPECT_EQ(blocked.status, 73);
    EXPECT_EQ(blocked.err.rfind("quorlinvcp-run: cannot create the folder " + (home() / ".config/environment.d").string(), 0), 0u)
        << blocked.err;
}

// Programs a desktop session starts that never open a port: with the LD_PRELOAD
// the session files give, each exits, prints and complains exactly as without it.
TEST_F(SessionOptIn, ProgramsThatTouchNoPortBehaveAsWithoutTheLibrary)
{
    ASSERT_EQ(launcher("on").status, 0);
    std::string preload = "LD_PRELOAD=" + library;
    if (fs::exists(generator))
        for (std::istringstream lines(run({generator}, session(), dir).out); std::getline(lines, preload);)
            if (preload.starts_with("LD_PRELOAD="))
                break;
    ASSERT_EQ(preload, "LD_PRELOAD=" + library);
    Strings loaded = session();
    loaded.push_back(preload);
    ASSERT_EQ(run({"grep", "-c", "libquorlinvcp-preload", "/proc/self/maps"}, loaded, dir).status, 0);  // really loaded

    const std::vector<Strings> programs = {
        {"sh", "-c", "echo $((6*7)); echo warn >&2; exit 3"},
        {"bash", "-c", "type cd; printf '%s\\n' \"${BASH_VERSINFO[0]}\"; read -t 0.1 x; echo $?"},
        {"/usr/bin/python3", "-c", "import os, sys, termios; print(sorted(os.listdir('/usr'))); "
                                   "r, w = os.pipe(); os.write(w, b'abc'); print(os.read(r, 3)); "
                                   "termios.tcgetattr(0)"},  // /dev/null is no terminal: ENOTTY, as ever
        {"ls", "-l", "/usr/share/doc/bash"},
        {"find", "/usr/share/doc/bash", "-maxdepth", "1", "-name", "*.gz"},
        // A terminal: stty's settings and window size on a fresh pseudo-terminal.
        {"script", "-qec", "stty -a; stty raw -echo cs7 parenb; stty -g; tty >/dev/null", "/dev/null"},
        {"sh", "-c", "seq 3 | xargs -n1 echo | sort -r"},
        {"gio", "list", "-l", "/usr/share/doc/bash"},
        // A web browser (text mode) rendering a page.
        {"sh", "-c", "printf '<h1>Ports</h1><ul><li>COM5</li></ul><a href=x>more</a>' | w3m -dump -T text/html -cols 40"},
        // A session bus and a client of it; the daemon names its own pid on stderr.
        {"sh", "-c", "dbus-run-session -- dbus-send --session --print-reply=literal --dest=org.freedesktop.DBus "
                     "/org/freedesktop/DBus org.freedesktop.DBus.ListNames 2>&1 | tr -d 0-9"},
    };
    for (const Strings& program : programs) {
        if (program[0].find('/') == std::string::npos && run({"sh", "-c", "command -v " + program[0]}, session(), dir).status != 0) {
            std::cout << "[ SKIPPED  ] " << program[0] << " is not installed\n";
            continue;
        }
        const Outcome plain = run(program, session(), dir);
        EXPECT_EQ(run(program, loaded, dir), plain) << testing::PrintToString(program);
        EXPECT_FALSE(plain.out.empty() && plain.err.empty()) << testing::PrintToString(program);
    }
}

}  // namespace
