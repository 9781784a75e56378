#include "ConfigFile.h"

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
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

// A valid file with an extra value nested `depth` levels below the top.
std::string nestedExtra(std::size_t depth)
{
    return R"({"format":"vspdevices-configuration","version":1,"devices":[],"extra":)" + std::string(depth, '[') +
           std::string(depth, ']') + "}";
}

TEST(ConfigFile, NestingAndSizeAreLimitedBeforeADocumentIsBuilt)
{
    EXPECT_TRUE(parseConfiguration(nestedExtra(maxConfigurationDepth - 1)));
    EXPECT_FALSE(parseConfiguration(nestedExtra(maxConfigurationDepth)));
    EXPECT_FALSE(parseConfiguration(std::string(maxConfigurationSize / 2, '[') + std::string(maxConfigurationSize / 2, ']')));
    // Far more than any configuration needs, even when well formed.
    std::string padded = serializeConfiguration(sample);
    padded.insert(1, std::size_t(2) << 20, ' ');
    EXPECT_FALSE(parseConfiguration(padded));
}

class ConfigFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/vsp-config-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::string file(const std::string& name) const { return (dir / name).string(); }
    std::vector<std::string> names() const
    {
        std::vector<std::string> list;
        for (const auto& entry : std::filesystem::directory_iterator(dir))
            list.push_back(entry.path().filename().string());
        std::sort(list.begin(), list.end());
        return list;
    }

    std::filesystem::path dir;
};

TEST_F(ConfigFolder, SavingThroughALinkWritesTheFileItPointsToAndKeepsTheLink)
{
    std::filesystem::create_directory(dir / "real");
    ASSERT_TRUE(writeFileAtomically(file("real/a.qlc"), "old"));
    std::filesystem::create_symlink("real/a.qlc", dir / "relative.qlc");
    std::filesystem::create_symlink(dir / "relative.qlc", dir / "chain.qlc");
    std::filesystem::create_symlink(dir / "real" / "new.qlc", dir / "dangling.qlc");

    ASSERT_TRUE(writeFileAtomically(file("chain.qlc"), "through two links"));
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "chain.qlc"));
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "relative.qlc"));
    EXPECT_EQ(readFileLimited(file("real/a.qlc"), 100), "through two links");

    ASSERT_TRUE(writeFileAtomically(file("dangling.qlc"), "new file"));
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "dangling.qlc"));
    EXPECT_EQ(readFileLimited(file("real/new.qlc"), 100), "new file");

    std::filesystem::create_symlink("loop.qlc", dir / "loop.qlc");
    EXPECT_FALSE(writeFileAtomically(file("loop.qlc"), "x"));
}

TEST_F(ConfigFolder, ASaveRemovesTheTemporariesOfCrashedSavesAndNothingElse)
{
    const auto make = [&](const std::string& name) { std::ofstream(dir / name) << R"({"format": "vspdev)"; };
    make(".a.qlc.vspsave-Crash1");   // left by a save that was killed
    make(".a.qlc.vspsave-Saving");   // a save running in another process
    make("a.qlc.Xy12ab");            // not ours: any name a user chose
    make(".a.qlc.vspsave-toolong");  // not ours either
    make(".b.qlc.vspsave-Crash2");   // another file's: left to that file's saves
    const int running = ::open(file(".a.qlc.vspsave-Saving").c_str(), O_RDONLY);
    ASSERT_EQ(::flock(running, LOCK_EX), 0);

    ASSERT_TRUE(writeFileAtomically(file("a.qlc"), "saved"));
    EXPECT_EQ(names(), (std::vector<std::string>{".a.qlc.vspsave-Saving", ".a.qlc.vspsave-toolong",
                                                 ".b.qlc.vspsave-Crash2", "a.qlc", "a.qlc.Xy12ab"}));
    ::close(running);
    ASSERT_TRUE(writeFileAtomically(file("a.qlc"), "saved again"));
    EXPECT_EQ(names(), (std::vector<std::string>{".a.qlc.vspsave-toolong", ".b.qlc.vspsave-Crash2", "a.qlc", "a.qlc.Xy12ab"}));
}

TEST_F(ConfigFolder, ReadingRefusesWhatIsNotARegularFileOrTooLargeOrTooDeepAtOnceAndSaysWhy)
{
    ASSERT_EQ(::mkfifo(file("pipe.qlc").c_str(), 0600), 0);
    std::ofstream(file("sparse.qlc")).close();
    ASSERT_EQ(::truncate(file("sparse.qlc").c_str(), off_t(1) << 30), 0);  // 1 GiB that takes no room
    std::ofstream(file("deep.qlc")) << nestedExtra(maxConfigurationDepth);
    std::ofstream(file("dup.qlc")) << serializeConfiguration({sample[0], sample[0]});
    const struct {
        std::string name;
        std::string refusal;
    } cases[] = {
        {"pipe.qlc", "not a regular file"},
        {"", "not a regular file"},  // the folder
        {"sparse.qlc", "larger than 1 MiB"},
        {"deep.qlc", "nested deeper than 16 levels"},
        {"dup.qlc", "device 2 (Connector \"5;0\") has the COM port of an earlier one"},
        {"none.qlc", "No such file or directory"},
    };
    for (const auto& c : cases) {
        const auto before = std::chrono::steady_clock::now();
        auto read = std::async(std::launch::async, [&] {
            std::string refusal;
            return readConfiguration(file(c.name), &refusal) ? std::string("read") : refusal;
        });
        if (read.wait_for(std::chrono::seconds(2)) != std::future_status::ready) {
            ADD_FAILURE() << c.name << ": reading waits";
            ::close(::open(file(c.name).c_str(), O_WRONLY | O_NONBLOCK));  // lets a FIFO's reader go
        }
        EXPECT_EQ(read.get(), c.refusal) << c.name;
        EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(1)) << c.name;
    }
    std::ofstream(file("good.qlc")) << serializeConfiguration(sample);
    EXPECT_EQ(readConfiguration(file("good.qlc")), sample);
}

TEST_F(ConfigFolder, AtomicWriteReplacesTheFileAndLeavesNoTemporary)
{
    const std::string path = file("a.qlc");
    ASSERT_TRUE(writeFileAtomically(path, "first"));
    ASSERT_TRUE(writeFileAtomically(path, "second"));
    EXPECT_EQ(readFileLimited(path, 100), "second");
    EXPECT_FALSE(readFileLimited(path, 3));  // larger than allowed
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator()), 1);
    EXPECT_FALSE(writeFileAtomically((dir / "missing" / "b.qlc").string(), "x"));
    EXPECT_FALSE(readFileLimited(file("none.qlc"), 100));
}

}  // namespace
