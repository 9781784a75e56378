// Who holds a port directory, as a refused program reads it to explain itself: the
// process whose library instance has the lock, never one that merely left its name
// in the lock file behind, nor anyone's in a folder the library would not use.
#include "support/LibraryFixture.h"
#include "vspdevices_holder.h"

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sys/stat.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

using vspdevices::portDirectoryHolder;

class HeldDirectory : public LibraryFixture {};

TEST_F(HeldDirectory, TheHolderIsTheInitializedProcessUntilItReleases)
{
    const auto holder = portDirectoryHolder(portDir);
    ASSERT_TRUE(holder.has_value());
    EXPECT_EQ(holder->pid, ::getpid());
    EXPECT_EQ(holder->program, program_invocation_short_name);

    vsp_release();
    EXPECT_FALSE(portDirectoryHolder(portDir).has_value());
    ASSERT_EQ(vsp_initialize(), 1);  // for the fixture's own release
}

// A name left in the lock file by a process that died without releasing is not
// believed; a held lock names its owner, by its name in /proc, and a program name of
// anything but plain characters is not repeated.
TEST(PortDirectoryHolder, OnlyTheLocksOwnerIsNamedAndNeverWithAnythingButPlainCharacters)
{
    char pattern[] = "/tmp/vsp-holder-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    const struct {
        const char* what;
        std::string text;  // the lock file's
        std::string program;
    } cases[] = {
        // Naming a process that still lives (this one's parent), or someone else.
        {"another process's name", std::to_string(::getppid()) + " quorlinvcp-service\n",
         std::string(program_invocation_short_name).substr(0, 15)},  // comm is cut at 15
        {"control characters", std::to_string(::getpid()) + " evil\x1b[2Jname\n", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::ofstream(dir + "/.vspdevices.lock") << c.text;
        EXPECT_FALSE(portDirectoryHolder(dir).has_value());
        const int fd = ::open((dir + "/.vspdevices.lock").c_str(), O_RDWR | O_CLOEXEC);
        ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
        const auto holder = portDirectoryHolder(dir);
        ASSERT_TRUE(holder.has_value());
        EXPECT_EQ(holder->pid, ::getpid());
        EXPECT_EQ(holder->program, c.program);
        ::close(fd);
    }
    EXPECT_FALSE(portDirectoryHolder(dir + "/missing").has_value());
    std::filesystem::remove_all(dir);
}

// /tmp/vspdevices-<uid> can be made first by another user, with a lock held by
// their own "quorlinvcp-service": no one holds such a folder for us.
TEST(PortDirectoryHolder, NoHolderIsNamedInAFolderTheLibraryWouldRefuse)
{
    char pattern[] = "/tmp/vsp-holder-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string base = pattern;
    struct Case {
        const char* what;
        std::string dir;
        mode_t mode;
        bool otherOwner;
        bool held;
    } const cases[] = {
        {"the user's own folder", base + "/own", 0700, false, true},
        {"a folder others may write to", base + "/open", 0777, false, false},
        {"another user's folder", base + "/foreign", 0700, true, false},
        {"a link to the user's own folder", base + "/link", 0, false, false},
    };
    std::vector<int> locks;
    for (const Case& c : cases) {
        if (c.mode == 0) {
            std::filesystem::create_directory_symlink(base + "/own", c.dir);
            continue;
        }
        if (c.otherOwner && ::geteuid() != 0) {
            std::cout << "[ SKIPPED  ] " << c.what << ": only root can make a folder of another user\n";
            continue;
        }
        ASSERT_EQ(::mkdir(c.dir.c_str(), c.mode), 0);
        ASSERT_EQ(::chmod(c.dir.c_str(), c.mode), 0);
        if (c.otherOwner)
            ASSERT_EQ(::chown(c.dir.c_str(), 65534, 65534), 0);
        std::ofstream(c.dir + "/.vspdevices.lock") << ::getpid() << " quorlinvcp-service\n";
        locks.push_back(::open((c.dir + "/.vspdevices.lock").c_str(), O_RDWR | O_CLOEXEC));
        ASSERT_EQ(::flock(locks.back(), LOCK_EX | LOCK_NB), 0);
    }
    for (const Case& c : cases)
        if (std::filesystem::exists(c.dir))
            EXPECT_EQ(portDirectoryHolder(c.dir).has_value(), c.held) << c.what;
    for (const int fd : locks)
        ::close(fd);
    std::filesystem::remove_all(base);
}

}  // namespace
