// The library as one of several processes: a second instance on the same port
// directory, and a process that ends without releasing the library.
#include "support/ChildProcess.h"
#include "support/LibraryFixture.h"

#include "AdapterServer.h"
#include "support/SerialApp.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace {
// Set in a forked child just before it exits: what it inherited of threads that
// only its parent has (their pending work and caches) is no leak of its own.
bool inForkedChild = false;
}  // namespace

// Asked by the leak checker, when the test runs under one, before its exit check.
extern "C" int __lsan_is_turned_off()
{
    return inForkedChild ? 1 : 0;
}

namespace {

class LibraryProcess : public LibraryFixture {
protected:
    // Runs the child program in `mode` with this test's port directory; its exit status.
    int runChild(const std::string& mode)
    {
        ChildProcess child({VSP_TEST_CHILD, mode}, portDir + "/../child.log");
        return child.wait();
    }
};

TEST_F(LibraryProcess, ASecondInstanceOnThePortDirectoryIsRefusedAndLeavesThePortsAlone)
{
    ASSERT_GE(vsp_createDevice("Connector", "5;0"), 0);
    ASSERT_EQ(vsp_startEmulation(), 1);
    const auto target = std::filesystem::read_symlink(portPath(5));

    EXPECT_EQ(runChild("initialize"), 3) << "a second process took the port directory over";
    ASSERT_TRUE(std::filesystem::is_symlink(portPath(5)));
    EXPECT_EQ(std::filesystem::read_symlink(portPath(5)), target);

    vsp_release();
    EXPECT_EQ(runChild("initialize"), 0);  // free again once released
    EXPECT_EQ(vsp_initialize(), 1);        // and after the other process ended
}

TEST_F(LibraryProcess, AProcessThatExitsWithoutReleaseEndsCleanlyAndRemovesItsPorts)
{
    vsp_release();
    EXPECT_EQ(runChild("exit-without-release"), 0);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(portPath(5))));
    EXPECT_EQ(vsp_initialize(), 1);
}

// A forked child that exits normally runs the library's static destructor; the
// ports, their links and their watches are the parent's and must stay as they are.
TEST_F(LibraryProcess, AForkedChildThatExitsLeavesTheParentsPortsWorking)
{
    vsp::AdapterServer adapter({});
    ASSERT_GE(vsp_createDevice("Connector", "5;0"), 0);
    ASSERT_GE(vsp_createDevice("TcpClient", client(adapter.port(), 5).c_str()), 0);
    ASSERT_EQ(vsp_startEmulation(), 1);
    ASSERT_TRUE(adapter.waitFor([&] { return adapter.clients() == 1; }));

    const pid_t child = ::fork();
    if (child == 0) {
        inForkedChild = true;
        std::exit(0);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

    EXPECT_TRUE(std::filesystem::is_symlink(portPath(5)));
    SerialApp app(portPath(5));
    app.write({'x'});
    EXPECT_TRUE(adapter.waitFor([&] { return adapter.receivedCount() == 1; }));
    adapter.send({'y'});
    EXPECT_EQ(app.read(1), std::vector<std::uint8_t>{'y'});
}

}  // namespace
