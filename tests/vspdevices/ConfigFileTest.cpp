#include "ConfigFile.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace vsp;

namespace {

const std::vector<DeviceEntry> sample = {
    {"Connector", "5;0"},
    {"TcpClient", "10.0.0.7;3001;5;19200,0,8,1,0,0;1;0;"},
    {"Connector", "12;0"},
};

TEST(ConfigFile, RoundTripsDevicesInOrder)
{
    const std::string text = serializeConfiguration(sample);
    EXPECT_NE(text.find("\"version\": 1"), std::string::npos);
    EXPECT_EQ(parseConfiguration(text), sample);
    EXPECT_EQ(parseConfiguration(serializeConfiguration({})), std::vector<DeviceEntry>{});
}

TEST(ConfigFile, RefusesAnythingButAWholeValidFile)
{
    const std::string text = serializeConfiguration(sample);
    for (std::size_t cut = 0; cut < text.size() - 2; cut += 7)
        EXPECT_FALSE(parseConfiguration(text.substr(0, cut))) << "truncated at " << cut;
    for (const char* bad : {
             "", "[]", "{}", "null",
             R"({"format":"other","version":1,"devices":[]})",
             R"({"format":"vspdevices-configuration","version":2,"devices":[]})",
             R"({"format":"vspdevices-configuration","version":"1","devices":[]})",
             R"({"format":"vspdevices-configuration","version":1,"devices":{}})",
             R"({"format":"vspdevices-configuration","version":1,"devices":[{"type":"Connector"}]})",
             R"({"format":"vspdevices-configuration","version":1,"devices":[{"type":"Connector","init":5}]})",
             R"({"format":"vspdevices-configuration","version":1,"devices":[{"type":"Modem","init":"5;0"}]})",
             R"({"format":"vspdevices-configuration","version":1,"devices":[{"type":"Connector","init":"0;0"}]})",
             R"({"format":"vspdevices-configuration","version":1,"devices":[{"type":"Connector","init":"5;0"},{"type":"Connector","init":"5;0"}]})",
         })
        EXPECT_FALSE(parseConfiguration(bad)) << bad;
    EXPECT_FALSE(parseConfiguration(std::string(maxConfigurationSize + 1, ' ')));
}

TEST(ConfigFile, AtomicWriteReplacesTheFileAndLeavesNoTemporary)
{
    const auto dir = std::filesystem::temp_directory_path() / ("vsp-config-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "a.qlc").string();
    ASSERT_TRUE(writeFileAtomically(path, "first"));
    ASSERT_TRUE(writeFileAtomically(path, "second"));
    EXPECT_EQ(readFileLimited(path, 100), "second");
    EXPECT_FALSE(readFileLimited(path, 3));  // larger than allowed
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator()), 1);
    EXPECT_FALSE(writeFileAtomically((dir / "missing" / "b.qlc").string(), "x"));
    EXPECT_FALSE(readFileLimited((dir / "none.qlc").string(), 100));
    std::filesystem::remove_all(dir);
}

}  // namespace
