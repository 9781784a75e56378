#include "support/LibraryFixture.h"

#include <cstdlib>
#include <filesystem>

void LibraryFixture::SetUp()
{
    char pattern[] = "/tmp/vsp-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    portDir = std::string(pattern) + "/ports";
    ::setenv("VSP_PORT_DIR", portDir.c_str(), 1);
    ASSERT_EQ(vsp_initialize(), 1);
}

void LibraryFixture::TearDown()
{
    vsp_release();
    ::unsetenv("VSP_PORT_DIR");
    std::filesystem::remove_all(std::filesystem::path(portDir).parent_path());
}

DeviceState LibraryFixture::state(int id)
{
    char type[VSP_TYPE_BUFFER + 1] = {};  // a text that fills the buffer has no NUL of its own
    char init[VSP_INIT_BUFFER + 1] = {};
    DeviceState s;
    s.found = vsp_getDeviceInfo(id, type, init, &s.ready, &s.ok) == 1;
    if (s.found) {
        s.type = type;
        s.init = init;
    }
    return s;
}

vsp_diagnostics LibraryFixture::diagnostics(int id)
{
    vsp_diagnostics d{};
    d.size = sizeof d;
    EXPECT_EQ(vsp_getDeviceDiagnostics(id, &d), 1);
    return d;
}

std::string LibraryFixture::client(std::uint16_t port, int com, const std::string& serial, bool telnet, bool onDemand)
{
    return "127.0.0.1;" + std::to_string(port) + ";" + std::to_string(com) + ";" + serial + ";" + (telnet ? "1" : "0") +
           ";" + (onDemand ? "1" : "0") + ";";
}
