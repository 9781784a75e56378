// A folder of the test's own, with the port directory in it for every library the
// test starts (VSP_PORT_DIR), removed afterwards.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>

class ServiceFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/vsp-service-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        folder = pattern;
        portDir = folder + "/ports";
        ::setenv("VSP_PORT_DIR", portDir.c_str(), 1);
    }
    void TearDown() override
    {
        ::unsetenv("VSP_PORT_DIR");
        std::filesystem::remove_all(folder);
    }

    std::string folder;
    std::string portDir;
};
