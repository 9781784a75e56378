// quorlinvcp-service monitor against the runner and the adapter simulator: what a
// program and the adapter do shows in order with plausible times, the capture reads
// in tshark, and each way the command cannot begin ends it with its own status.
#include "AdapterServer.h"
#include "ServiceFolder.h"
#include "monitor/MonitorConnection.h"
#include "support/ChildProcess.h"
#include "support/ControlSocket.h"
#include "support/SerialApp.h"
#include "support/Tshark.h"
#include "support/Waiting.h"

#include <cmath>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class MonitorCommand : public ServiceFolder {
protected:
    // A runner of COM5 redirected to the adapter.
    std::unique_ptr<ChildProcess> runner(std::uint16_t adapterPort)
    {
        const std::string file = folder + "/lab.qlc";
        std::ofstream(file) << R"({"format":"vspdevices-configuration","version":1,"devices":[)"
                            << R"({"type":"Connector","init":"5;0"},{"type":"TcpClient","init":"127.0.0.1;)" << adapterPort
                            << R"(;5;19200,0,8,1,0,0;1;0;"}]})";
        auto started = std::make_unique<ChildProcess>(std::vector<std::string>{QUORLINVCP_SERVICE, file}, folder + "/runner.log");
        EXPECT_TRUE(waitUntil([&] { return readAll(folder + "/runner.log").find("COM5: connected to") != std::string::npos; }))
            << readAll(folder + "/runner.log");
        return started;
    }
    std::unique_ptr<ChildProcess> monitor(const std::vector<std::string>& arguments, const std::string& log)
    {
        std::vector<std::string> all{QUORLINVCP_SERVICE, "monitor"};
        all.insert(all.end(), arguments.begin(), arguments.end());
        return std::make_unique<ChildProcess>(all, folder + "/" + log);
    }
    std::string log(const std::string& name) { return readAll(folder + "/" + name); }

};

// Seconds since midnight of a line's "HH:MM:SS.uuuuuu" stamp.
double secondsOfDay(const std::string& line)
{
    return std::stoi(line.substr(0, 2)) * 3600 + std::stoi(line.substr(3, 2)) * 60 + std::stod(line.substr(6, 9));
}

TEST_F(MonitorCommand, ShowsAProgramsTrafficTheCommandsAndTheConnectionInOrderAndWritesACaptureTsharkReads)
{
    vsp::AdapterServer adapter({.echo = true});
    const auto service = runner(adapter.port());
    const std::string capture = folder + "/session.pcapng";
    const auto watching = monitor({"5", "--pcapng", capture}, "monitor.log");
    ASSERT_TRUE(waitUntil([&] { return log("monitor.log").find("# COM5 on " + portDir) == 0; })) << log("monitor.log");
    const std::time_t began = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&began, &local);
    {
        SerialApp app(portDir + "/COM5");
        app.write({'p', 'i', 'n', 'g', 0xFF});
        EXPECT_EQ(app.read(5).size(), 5u);
        ASSERT_TRUE(app.setSpeed(9600));
        ASSERT_TRUE(adapter.waitFor([&] { return adapter.settings().baud == 9600; }));
        using namespace vsp::control;
        ControlSocket control(portDir + "/COM5.control");
        for (const Request request : {Request{Op::SetLines, lineDtr, 0}, Request{Op::SetLines, lineDtr, lineDtr},
                                      Request{Op::Break, breakTimed, 50}}) {
            ASSERT_TRUE(control.send(request));
            ASSERT_TRUE(control.reply());
        }
        adapter.dropClient();
        ASSERT_TRUE(waitUntil([&] {
            const std::string text = log("monitor.log");
            return text.find("** connected to", text.find("** connecting to")) != std::string::npos;
        })) << log("monitor.log");
    }
    ASSERT_TRUE(waitUntil([&] { return log("monitor.log").find("closed the port") != std::string::npos; }));
    watching->signal(SIGINT);
    EXPECT_EQ(watching->wait(), 0);

    // What the program and the runner did, in order; each answer after its command
    // (the adapter's answers come between the next commands as they may).
    const std::string text = log("monitor.log");
    std::size_t at = 0;
    for (const std::string line :
         {"** connected to 127.0.0.1:", "** a program opened the port", ">  ping\\xFF\n", ">> SET-BAUDRATE 9600\n", ">> SET-CONTROL 9 (DTR off)\n",
          ">> SET-CONTROL 8 (DTR on)\n", ">> SET-CONTROL 5 (break on)\n", ">> SET-CONTROL 6 (break off)\n",
          "** connection ended: ", "** connecting to 127.0.0.1:", "** connected to 127.0.0.1:",
          "** the program closed the port\n", "# COM5: stopped on SIGINT; 0 records lost\n"}) {
        const std::size_t found = text.find(line, at);
        ASSERT_NE(found, std::string::npos) << "'" << line << "' after byte " << at << " of\n" << text;
        at = found + line.size();
    }
    for (const auto& [sent, answer] : std::vector<std::pair<std::string, std::string>>{
             {">  ping", "<  p"}, {">> SET-BAUDRATE 9600", "<< SET-BAUDRATE 9600"},
             {">> SET-CONTROL 9 (DTR off)", "<< SET-CONTROL 9 (DTR off)"},
             {">> SET-CONTROL 9 (DTR off)", "** 9600 baud 8N1, no flow control, lines RTS CTS"},
             {">> SET-CONTROL 5 (break on)", "<< SET-CONTROL 5 (break on)"}})
        EXPECT_NE(text.find(answer, text.find(sent)), std::string::npos) << answer;
    // Every line but the first and last is stamped, in order, from about when the
    // program began (the connection up already, with the time it was made).
    std::istringstream lines(text);
    std::string line;
    std::getline(lines, line);
    double previous = local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec - 5;
    while (std::getline(lines, line) && line[0] != '#') {
        const double step = std::fmod(secondsOfDay(line) - previous + 86400, 86400);  // across midnight too
        EXPECT_LT(step, 10) << line;
        previous = secondsOfDay(line);
    }

    if (!tsharkInstalled())
        GTEST_SKIP() << "tshark is not installed (scripts/setup installs it)";
    const auto [bauds, complaints] = tshark("-r " + capture + " -T fields -e telnet.comport_subopt.baud_rate");
    EXPECT_EQ(complaints, "");
    // The speed command and its answer (other packets may come between them).
    std::istringstream fields(bauds);
    int speeds = 0;
    for (std::string field; std::getline(fields, field);)
        speeds += field == "9600";
    EXPECT_GE(speeds, 2) << bauds;
    EXPECT_NE(tshark("-r " + capture).first.find("COM5: the program closed the port"), std::string::npos);
}

TEST_F(MonitorCommand, EachReasonItCannotBeginOrGoOnEndsItWithItsStatusAndWords)
{
    int runs = 0;
    const auto refused = [&](const std::vector<std::string>& arguments, int status, const std::string& said) {
        const std::string name = "refused" + std::to_string(++runs) + ".log";
        EXPECT_EQ(monitor(arguments, name)->wait(), status) << said;
        EXPECT_NE(log(name).find(said), std::string::npos) << log(name);
    };
    refused({"5"}, 3, "no QuorlinVCP program runs redirects on " + portDir);

    vsp::AdapterServer adapter({});
    auto service = runner(adapter.port());
    const std::string unwritable = folder + "/absent/capture.pcapng";
    const struct {
        std::vector<std::string> arguments;
        int status;
        std::string said;
    } cases[] = {
        {{"COM6"}, 69, "COM6 is not running on " + portDir + " (running: COM5)"},
        {{"com5", "--pcapng", unwritable}, 73, "cannot write the capture " + unwritable},
        {{}, 64, "Usage:"},
        {{"COM0"}, 64, "Usage:"},
        {{"5", "6"}, 64, "Usage:"},
        {{"5", "--pcapng"}, 64, "Usage:"},
        {{"5", "--bogus"}, 64, "Usage:"},
    };
    for (const auto& c : cases)
        refused(c.arguments, c.status, c.said);
    EXPECT_FALSE(fs::exists(unwritable));

    std::vector<monitor::MonitorConnection> taken;
    for (std::size_t i = 0; i < vsp::monitor::maxMonitors; ++i)
        taken.push_back(std::get<monitor::MonitorConnection>(monitor::MonitorConnection::open(5, 2000, portDir)));
    refused({"5"}, 75, "COM5 has as many monitors as it takes");
    taken.clear();

    // The runner stopping ends a monitor, which says so.
    ASSERT_TRUE(waitUntil([&] { return std::holds_alternative<monitor::MonitorConnection>(
                                    monitor::MonitorConnection::open(5, 2000, portDir)); }));
    const auto watching = monitor({"5"}, "ended.log");
    ASSERT_TRUE(waitUntil([&] { return log("ended.log").find("** 19200 baud") != std::string::npos; }));
    service->signal(SIGTERM);
    EXPECT_EQ(watching->wait(), 0);
    EXPECT_NE(log("ended.log").find("# COM5: ended: the program running the port stopped or removed it; 0 records lost\n"),
              std::string::npos)
        << log("ended.log");
}

}  // namespace
