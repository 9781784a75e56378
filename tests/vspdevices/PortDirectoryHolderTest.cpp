// Who holds a port directory, as a refused program reads it to explain itself: the
// process whose library instance has the lock, never one that merely left its name
// in the lock file behind.
#include "support/LibraryFixture.h"
#include "vspdevices_holder.h"

#include <fcntl.h>
#include <filesystem>
#include <fstream>
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

TEST(PortDirectoryHolder, ANameLeftInTheLockFileByAProcessThatDiedWithoutReleasingIsNotBelieved)
{
    char pattern[] = "/tmp/vsp-holder-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    // What a killed holder leaves: its text, naming a process that still lives (this one).
    std::ofstream(dir + "/.vspdevices.lock") << ::getppid() << " quorlinvcp-service\n";
    EXPECT_FALSE(portDirectoryHolder(dir).has_value());

    // Held, with text that names someone else: the lock's owner is reported, by its
    // name in /proc.
    const int fd = ::open((dir + "/.vspdevices.lock").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    const auto holder = portDirectoryHolder(dir);
    ASSERT_TRUE(holder.has_value());
    EXPECT_EQ(holder->pid, ::getpid());
    EXPECT_EQ(holder->program, std::string(program_invocation_short_name).substr(0, 15));  // comm is cut at 15
    ::close(fd);

    EXPECT_FALSE(portDirectoryHolder(dir + "/missing").has_value());
    std::filesystem::remove_all(dir);
}

TEST(PortDirectoryHolder, AProgramNameOfAnythingButPlainCharactersIsNotRepeated)
{
    char pattern[] = "/tmp/vsp-holder-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    std::ofstream(dir + "/.vspdevices.lock") << ::getpid() << " evil\x1b[2Jname\n";
    const int fd = ::open((dir + "/.vspdevices.lock").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    const auto holder = portDirectoryHolder(dir);
    ASSERT_TRUE(holder.has_value());
    EXPECT_EQ(holder->program, "");
    ::close(fd);
    std::filesystem::remove_all(dir);
}

}  // namespace
