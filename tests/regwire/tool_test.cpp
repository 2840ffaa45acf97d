// SPDX-License-Identifier: MIT
// The regwire tool as a user runs it: mapping a port in the user's map file and
// probing a simulator through it on a pty and over TCP; usage errors; ports.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "process.h"
#include "regwire.h"
#include "slave_process.h"

namespace {

using support::RunResult;
using support::SlaveProcess;

// Each test gets a fresh XDG_CONFIG_HOME and no REGWIRE_PORT<k> of its own.
class RegwireTool : public testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/regwire_tool_XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        config_ = pattern;
        if (const char* old = ::getenv("XDG_CONFIG_HOME")) saved_ = old;
        ::setenv("XDG_CONFIG_HOME", config_.c_str(), 1);
        for (int k = 1; k <= 19; ++k) ::unsetenv(("REGWIRE_PORT" + std::to_string(k)).c_str());
    }
    void TearDown() override {
        if (saved_.empty()) {
            ::unsetenv("XDG_CONFIG_HOME");
        } else {
            ::setenv("XDG_CONFIG_HOME", saved_.c_str(), 1);
        }
        std::filesystem::remove_all(config_);
    }

    static RunResult run(std::vector<std::string> args) {
        args.insert(args.begin(), REGWIRE_TOOL_PATH);
        return support::run_program(args, std::chrono::seconds(20));
    }
    std::string map_text() const {
        std::ifstream in(config_ + "/regwire/ports.conf");
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    std::string config_;
    std::string saved_;
};

TEST_F(RegwireTool, MapThenProbeReadsTheSimulator) {
    struct Row {
        const char* line;
        std::vector<std::string> slave_args;
        std::string port;
    } rows[] = {
        {"pty", {"--pty", "--pattern", "demo"}, "6"},
        {"tcp", {"--tcp", "0", "--pattern", "demo"}, "7"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.line);
        SlaveProcess slave(r.slave_args);
        ASSERT_TRUE(slave.started()) << slave.error();
        const RunResult mapped = run({"map", r.port, slave.address()});
        ASSERT_EQ(mapped.exit_code, 0) << mapped.out;
        EXPECT_NE(map_text().find(r.port + " = " + slave.address() + "\n"), std::string::npos);

        const RunResult probe =
            run({"probe", r.port, "--parity", "none", "--address", "100", "--count", "8"});
        ASSERT_EQ(probe.exit_code, 0) << probe.out;
        EXPECT_NE(probe.out.find("user file " + config_ + "/regwire/ports.conf"), std::string::npos)
            << probe.out;
        // The demo pattern's fixed words at 100..107.
        for (const char* want : {"  100:      0  0x0000", "  104:     -1  0xffff",
                                 "  106:   1234  0x04d2", "  107:  -1234  0xfb2e"}) {
            EXPECT_NE(probe.out.find(want), std::string::npos) << want << "\n" << probe.out;
        }
        EXPECT_EQ(slave.counter("fc03"), 1);
    }
    // Both entries are in the file; unmapping one keeps the other.
    ASSERT_EQ(run({"unmap", "6"}).exit_code, 0);
    EXPECT_EQ(map_text().find("6 = "), std::string::npos);
    EXPECT_NE(map_text().find("7 = tcp:127.0.0.1:"), std::string::npos);
}

TEST_F(RegwireTool, MapKeepsTheRestOfTheFile) {
    std::filesystem::create_directories(config_ + "/regwire");
    std::ofstream(config_ + "/regwire/ports.conf") << "# bench 4\n3 = /dev/ttyUSB3  # left\n";
    ASSERT_EQ(run({"map", "3", "/dev/ttyUSB9"}).exit_code, 0);
    ASSERT_EQ(run({"map", "4", "tcp:[::1]:1502"}).exit_code, 0);
    EXPECT_EQ(map_text(), "# bench 4\n3 = /dev/ttyUSB9\n4 = tcp:[::1]:1502\n");
    // No temporary file is left beside it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(config_ + "/regwire"),
                            std::filesystem::directory_iterator()),
              1);
}

TEST_F(RegwireTool, FailuresAndUsageErrorsHaveTheirExitStatus) {
    struct Row {
        std::vector<std::string> args;
        int status;
        std::string says;
    } rows[] = {
        {{}, 2, "no command"},
        {{"frobnicate"}, 2, "unknown command frobnicate"},
        {{"probe"}, 2, "probe takes a port number"},
        {{"probe", "0"}, 2, "no port number: 0"},
        {{"probe", "6", "--count", "126"}, 2, "bad value for --count: 126"},
        {{"probe", "6", "--speed", "12345"}, 2, "bad value for --speed"},
        {{"probe", "6", "--address", "65535", "--count", "2"}, 2, "pass address 65535"},
        {{"map", "6", "ttyUSB0"}, 2, "neither an absolute path"},
        {{"map", "6"}, 2, "map takes a port number and a device"},
        {{"unmap", "x"}, 2, "no port number: x"},
        // A port mapped to a missing device: mapped with a note, then fails to open.
        {{"map", "5", "/nonexistent/ttyUSB7"}, 0, "does not exist now"},
        {{"probe", "5", "--count", "1"}, 1, "cannot open port 5 (/nonexistent/ttyUSB7)"},
        {{"--help"}, 0, "probe K [OPTIONS]"},
        {{"--version"}, 0, std::string("regwire ") + Regwire_version() + "\n"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::PrintToString(r.args));
        const RunResult got = run(r.args);
        EXPECT_EQ(got.exit_code, r.status) << got.out;
        EXPECT_NE(got.out.find(r.says), std::string::npos) << got.out;
    }
}

TEST_F(RegwireTool, PortsShowsWhereEachMappingComesFrom) {
    ASSERT_EQ(run({"map", "6", "/dev/null"}).exit_code, 0);
    ::setenv("REGWIRE_PORT2", "tcp:127.0.0.1:1502", 1);
    const RunResult got = run({"ports"});
    ::unsetenv("REGWIRE_PORT2");
    ASSERT_EQ(got.exit_code, 0) << got.out;
    for (const char* want :
         {"Serial devices:", "   1  /dev/ttyS0 ",
          "   2  tcp:127.0.0.1:1502           environment  ok (TCP)",
          "   6  /dev/null                    user file    ok", "  19  /dev/ttyS18 "}) {
        EXPECT_NE(got.out.find(want), std::string::npos) << want << "\n" << got.out;
    }
}

}  // namespace
