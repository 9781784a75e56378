// What the program relies on from the library, without any network peer.
#include "support/LibraryFixture.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <unistd.h>
#include <vector>

namespace {

class DeviceContract : public LibraryFixture {};

TEST_F(DeviceContract, CreationGivesRisingIdsAndRefusesBadOrDuplicateDevices)
{
    EXPECT_EQ(vsp_createDevice("TcpClient", client(3001, 5).c_str()), 0);  // before its Connector
    EXPECT_EQ(vsp_createDevice("Connector", "5;0"), 1);
    EXPECT_EQ(vsp_createDevice("Connector", "5;0"), -1);
    EXPECT_EQ(vsp_createDevice("TcpClient", client(3002, 5).c_str()), -1);
    EXPECT_EQ(vsp_createDevice("connector", "6;0"), -1);
    EXPECT_EQ(vsp_createDevice("Connector", "256;0"), -1);
    EXPECT_EQ(vsp_createDevice("Connector", "bad"), -1);
    EXPECT_EQ(vsp_createDevice("Connector", nullptr), -1);
    EXPECT_EQ(vsp_createDevice("Connector", "6;0"), 2);
    vsp_destroyDevice(1);
    EXPECT_EQ(vsp_createDevice("Connector", "5;0"), 3);  // a new id, never a reused one

    ASSERT_EQ(vsp_getDevicesCount(), 3);
    EXPECT_EQ(vsp_getDeviceIdByIdx(0), 0);
    EXPECT_EQ(vsp_getDeviceIdByIdx(1), 2);
    EXPECT_EQ(vsp_getDeviceIdByIdx(2), 3);
    EXPECT_EQ(vsp_getDeviceIdByIdx(3), -1);
    const DeviceState s = state(0);
    EXPECT_EQ(s.type, "TcpClient");
    EXPECT_EQ(s.init, client(3001, 5));
    EXPECT_FALSE(state(1).found);
    EXPECT_EQ(vsp_createDevice("Connector", "255;0"), 4);
    vsp_destroyAllDevices();
    EXPECT_EQ(vsp_getDevicesCount(), 0);
}

// A host name of `length` bytes in a TcpClient string on COM `com`.
std::string clientWithHost(std::size_t length, int com = 5, const std::string& unit = "h")
{
    std::string host;
    while (host.size() + unit.size() <= length)
        host += unit;
    host += std::string(length - host.size(), 'h');
    return host + ";3001;" + std::to_string(com) + ";19200,0,8,1,0,0;1;0;";
}

// The fixed-size info fills at most the caller's buffers: a string of their length
// whole, a shorter one NUL-ended, a longer one cut between characters.
TEST_F(DeviceContract, InfoNeverWritesBeyondTheCallersBuffersAndCutsBetweenCharacters)
{
    const std::string short63 = clientWithHost(VSP_INIT_BUFFER - 1 - clientWithHost(0).size());
    const std::string full64 = clientWithHost(VSP_INIT_BUFFER - clientWithHost(0).size());
    ASSERT_EQ(short63.size(), VSP_INIT_BUFFER - 1u);
    ASSERT_EQ(full64.size(), VSP_INIT_BUFFER + 0u);
    const struct {
        const char* name;
        std::string init;
        std::size_t kept;  // bytes of it the caller's buffer holds
    } cases[] = {
        {"one byte short", short63, short63.size()},
        {"as long as the buffer", full64, full64.size()},
        {"longer", std::string(80, 'h') + ";3001;5;19200,0,8,1,0,0;1;0;", VSP_INIT_BUFFER},
        // "ü" is two bytes: the 64th byte would be the first half of one.
        {"a two-byte character across the end", "a" + clientWithHost(80, 5, "\xC3\xBC"), VSP_INIT_BUFFER - 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const int id = vsp_createDevice("TcpClient", c.init.c_str());
        ASSERT_GE(id, 0);
        char type[VSP_TYPE_BUFFER + 8];
        char init[VSP_INIT_BUFFER + 8];
        std::memset(type, 'Z', sizeof type);
        std::memset(init, 'Z', sizeof init);
        int ready = 7;
        int ok = 7;
        ASSERT_EQ(vsp_getDeviceInfo(id, type, init, &ready, &ok), 1);
        EXPECT_EQ(std::string(init, ::strnlen(init, VSP_INIT_BUFFER)), c.init.substr(0, c.kept));
        EXPECT_EQ(std::string(init + VSP_INIT_BUFFER, 8), std::string(8, 'Z'));
        EXPECT_EQ(std::string(type), "TcpClient");
        EXPECT_EQ(std::string(type + VSP_TYPE_BUFFER, 8), std::string(8, 'Z'));
        EXPECT_EQ(ready, 0);
        EXPECT_EQ(ok, 0);
        EXPECT_EQ(vsp_getDeviceInfo(id, nullptr, init, &ready, &ok), 0);
        vsp_destroyDevice(id);
    }
}

TEST_F(DeviceContract, SizedInfoGivesLongHostNamesWholeAndTellsWhatACutStringNeeds)
{
    int ready = 7;
    int ok = 7;
    for (const std::size_t hostLength : {35u, 36u, 64u, 253u}) {
        const std::string whole = clientWithHost(hostLength);
        const int id = vsp_createDevice("TcpClient", whole.c_str());
        ASSERT_GE(id, 0) << hostLength;
        char type[VSP_TYPE_BUFFER];
        std::vector<char> init(512, 'Z');
        ASSERT_EQ(vsp_getDeviceInfoEx(id, type, sizeof type, init.data(), static_cast<int>(init.size()), &ready, &ok),
                  static_cast<int>(whole.size() + 1));
        EXPECT_EQ(std::string(init.data()), whole);
        EXPECT_EQ(std::string(type), "TcpClient");
        EXPECT_EQ(ready, 0);
        vsp_destroyDevice(id);
    }

    const std::string umlauts = clientWithHost(100, 5, "\xC3\xBC");
    const int id = vsp_createDevice("TcpClient", umlauts.c_str());
    char type[4];
    char init[12];
    std::memset(init, 'Z', sizeof init);
    EXPECT_EQ(vsp_getDeviceInfoEx(id, type, sizeof type, init, 12, &ready, &ok), static_cast<int>(umlauts.size() + 1));
    EXPECT_EQ(std::string(init), umlauts.substr(0, 10));  // 5 whole characters, not 5 and a half
    EXPECT_EQ(std::string(type), "Tcp");
    EXPECT_EQ(vsp_getDeviceInfoEx(id + 1, type, sizeof type, init, 12, &ready, &ok), 0);
    EXPECT_EQ(vsp_getDeviceInfoEx(id, type, sizeof type, init, 0, &ready, &ok), 0);
    EXPECT_EQ(vsp_getDeviceInfoEx(id, type, sizeof type, nullptr, 12, &ready, &ok), 0);
}

TEST_F(DeviceContract, IdsWrapToTheLowestFreeIdAfter32767)
{
    ASSERT_EQ(vsp_createDevice("Connector", "1;0"), 0);
    int last = 0;
    while (last < 32767) {
        last = vsp_createDevice("Connector", "2;0");
        ASSERT_GT(last, 0);
        vsp_destroyDevice(last);
    }
    EXPECT_EQ(vsp_createDevice("Connector", "2;0"), 1);
    EXPECT_EQ(vsp_createDevice("Connector", "3;0"), 2);
}

TEST_F(DeviceContract, EmulationMakesThePortsAndSetsTheFlags)
{
    const int connector = vsp_createDevice("Connector", "5;0");
    const int tcp = vsp_createDevice("TcpClient", client(1, 5).c_str());  // nobody listens on port 1
    EXPECT_EQ(state(tcp).ready, 0);
    EXPECT_FALSE(std::filesystem::exists(portPath(5)));

    ASSERT_EQ(vsp_startEmulation(), 1);
    EXPECT_EQ(vsp_startEmulation(), 1);
    EXPECT_TRUE(std::filesystem::is_symlink(portPath(5)));
    EXPECT_EQ(state(connector).ready, 1);
    EXPECT_EQ(state(tcp).ready, 1);  // connecting
    EXPECT_EQ(state(tcp).ok, 0);

    const int late = vsp_createDevice("Connector", "7;0");  // created while running: up at once
    EXPECT_EQ(state(late).ready, 1);
    EXPECT_TRUE(std::filesystem::is_symlink(portPath(7)));

    ASSERT_EQ(vsp_stopEmulation(), 1);
    EXPECT_EQ(vsp_stopEmulation(), 1);
    EXPECT_FALSE(std::filesystem::exists(portPath(5)));
    EXPECT_FALSE(std::filesystem::exists(portPath(7)));
    EXPECT_EQ(state(tcp).ready, 0);
    EXPECT_EQ(state(connector).ready, 0);
}

TEST_F(DeviceContract, PortDirectoryLeavesForeignFilesAloneAndReplacesStaleLinks)
{
    std::ofstream(portPath(5)) << "not a port";
    std::filesystem::create_symlink("/dev/pts/99999", portPath(6));  // left by a crashed run
    vsp_release();
    ASSERT_EQ(vsp_initialize(), 1);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(portPath(6))));

    const int foreign = vsp_createDevice("Connector", "5;0");
    vsp_createDevice("Connector", "6;0");
    ASSERT_EQ(vsp_startEmulation(), 1);
    EXPECT_EQ(state(foreign).ready, 0);  // its name is taken by something not ours
    EXPECT_TRUE(std::filesystem::is_regular_file(portPath(5)));
    EXPECT_TRUE(std::filesystem::is_symlink(portPath(6)));
}

TEST_F(DeviceContract, UnusablePortDirectoryFailsInitialize)
{
    vsp_release();
    const std::string elsewhere = portDir + "-real";
    std::filesystem::create_directories(elsewhere);
    const std::string link = portDir + "-link";
    std::filesystem::create_directory_symlink(elsewhere, link);
    ::setenv("VSP_PORT_DIR", link.c_str(), 1);
    EXPECT_EQ(vsp_initialize(), 0);
    ::setenv("VSP_PORT_DIR", "/proc/vsp-cannot-be-here", 1);
    EXPECT_EQ(vsp_initialize(), 0);
    ::setenv("VSP_PORT_DIR", portDir.c_str(), 1);
    EXPECT_EQ(vsp_initialize(), 1);
}

TEST_F(DeviceContract, AnExistingPortDirectoryKeepsItsModeAndOneOthersCanWriteIsRefused)
{
    vsp_release();
    const auto mode = [&] { return std::filesystem::status(portDir).permissions(); };
    using std::filesystem::perms;
    const perms shared = perms::owner_all | perms::group_read | perms::group_exec | perms::set_gid;
    std::filesystem::permissions(portDir, shared);
    ASSERT_EQ(vsp_initialize(), 1);
    EXPECT_EQ(mode(), shared) << "a folder the library did not create was changed";
    vsp_release();

    for (const perms open : {perms::all | perms::sticky_bit, perms::owner_all | perms::group_all}) {
        std::filesystem::permissions(portDir, open);
        EXPECT_EQ(vsp_initialize(), 0) << "others could write in the port directory";
        EXPECT_EQ(mode(), open);
    }
    std::filesystem::permissions(portDir, perms::owner_all);
    ASSERT_EQ(vsp_initialize(), 1);
}

TEST_F(DeviceContract, DestroyingAllDevicesAlsoStopsEmulation)
{
    vsp_createDevice("Connector", "5;0");
    ASSERT_EQ(vsp_startEmulation(), 1);
    vsp_destroyAllDevices();
    const int later = vsp_createDevice("Connector", "6;0");
    EXPECT_EQ(state(later).ready, 0);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(portPath(6))));
    ASSERT_EQ(vsp_startEmulation(), 1);
    EXPECT_EQ(state(later).ready, 1);
}

TEST_F(DeviceContract, CallsAfterReleaseFailCleanly)
{
    vsp_createDevice("Connector", "5;0");
    vsp_startEmulation();
    vsp_release();
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(portPath(5))));
    EXPECT_EQ(vsp_createDevice("Connector", "5;0"), -1);
    EXPECT_EQ(vsp_getDevicesCount(), 0);
    EXPECT_EQ(vsp_getDeviceIdByIdx(0), -1);
    EXPECT_EQ(vsp_startEmulation(), 0);
    EXPECT_EQ(vsp_stopEmulation(), 0);
    EXPECT_FALSE(state(0).found);
    EXPECT_EQ(vsp_release(), 1);
    char version[VSP_VERSION_BUFFER];
    EXPECT_EQ(vsp_getVersionInformation(version), 1);  // shown before initialize
    EXPECT_EQ(std::string(version).rfind("vspdevices ", 0), 0u);
}

}  // namespace
