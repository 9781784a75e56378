// tshark run on a capture file, for the tests of the monitor's captures.
#pragma once

#include "support/Waiting.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <utility>

#include <unistd.h>

inline bool tsharkInstalled()
{
    return std::system("tshark --version >/dev/null 2>&1") == 0;
}

// tshark's standard output and standard error, less the note it prints to everyone
// who runs it as root.
inline std::pair<std::string, std::string> tshark(const std::string& arguments)
{
    // A file of this run's own: another user's run may have left one under any fixed name.
    std::string errors = ::testing::TempDir() + "tshark-XXXXXX";
    const int made = ::mkstemp(errors.data());
    if (made < 0)
        return {"", "no file for tshark's errors"};
    ::close(made);
    std::FILE* pipe = ::popen(("tshark " + arguments + " 2>" + errors).c_str(), "r");
    std::string out;
    char buffer[4096];
    while (pipe && std::fgets(buffer, sizeof buffer, pipe))
        out += buffer;
    if (pipe)
        ::pclose(pipe);
    std::istringstream lines(readAll(errors));
    std::remove(errors.c_str());
    std::string complaints;
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("Running as user \"root\"", 0) != 0)
            complaints += line + "\n";
    return {out, complaints};
}
