// The library as one of several processes: a second instance on the same port
// directory, and a process that ends without releasing the library.
#include "support/ChildProcess.h"
#include "support/LibraryFixture.h"

#include <filesystem>

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

}  // namespace
