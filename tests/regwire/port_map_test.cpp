// SPDX-License-Identifier: MIT
// The map of port numbers to devices, without a line: parsing, precedence, the
// files as they may be found on a machine, and editing.
#include "port_map.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using regwire::MapFile;
using regwire::MapSource;

struct ParseCase {
    const char* name;
    const char* text;
    std::vector<std::pair<int32_t, std::string>> entries;
    std::vector<std::string> problems;  // each expected problem starts with this
};

void PrintTo(const ParseCase& c, std::ostream* os) {
    *os << c.name;
}

class PortMapParse : public testing::TestWithParam<ParseCase> {};

TEST_P(PortMapParse, KeepsGoodLinesAndNamesEachBadOne) {
    const ParseCase& c = GetParam();
    const MapFile map = regwire::parse_port_map(c.text, "ports.conf");
    std::vector<std::pair<int32_t, std::string>> got;
    for (const auto& e : map.entries) got.emplace_back(e.port, e.device);
    EXPECT_EQ(got, c.entries);
    ASSERT_EQ(map.problems.size(), c.problems.size()) << testing::PrintToString(map.problems);
    for (std::size_t i = 0; i < c.problems.size(); ++i) {
        EXPECT_EQ(map.problems[i].rfind(c.problems[i], 0), 0u) << map.problems[i];
    }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, PortMapParse,
    testing::Values(
        ParseCase{"CommentsAndBlanks",
                  "# adapters\n\n  6 = /dev/serial/by-id/usb-x-if00  # the USB one\n"
                  "7=tcp:192.168.1.10:502\n\t\n",
                  {{6, "/dev/serial/by-id/usb-x-if00"}, {7, "tcp:192.168.1.10:502"}},
                  {}},
        ParseCase{
            "HashInsideADeviceIsNoComment", "6 = /dev/odd#name\n", {{6, "/dev/odd#name"}}, {}},
        ParseCase{"WindowsLineEnds",
                  "6 = /dev/ttyUSB0\r\n7 = /dev/ttyUSB1\r\n",
                  {{6, "/dev/ttyUSB0"}, {7, "/dev/ttyUSB1"}},
                  {}},
        ParseCase{"MalformedLinesAreIgnoredAndNamed",
                  "6 /dev/ttyUSB0\nsix = /dev/ttyUSB0\n6 =\n6 = ttyUSB0\n6 = /dev/a b\n"
                  "8 = /dev/ttyUSB2\n",
                  {{8, "/dev/ttyUSB2"}},
                  {"ports.conf:1: expected", "ports.conf:2: port \"six\"",
                   "ports.conf:3: no device", "ports.conf:4: the device \"ttyUSB0\" is neither",
                   "ports.conf:5: the device \"/dev/a b\" contains"}},
        ParseCase{"PortsOutOfRange",
                  "0 = /dev/a\n-1 = /dev/a\n2147483648 = /dev/a\n99999999999999999999 = /dev/a\n"
                  "2147483647 = /dev/b\n",
                  {{2147483647, "/dev/b"}},
                  {"ports.conf:1: port \"0\"", "ports.conf:2: port \"-1\"",
                   "ports.conf:3: port \"2147483648\"", "ports.conf:4: port"}},
        ParseCase{"ASecondLineForAPortDoesNotWin",
                  "6 = /dev/a\n6 = /dev/b\n",
                  {{6, "/dev/a"}},
                  {"ports.conf:2: port 6 is already mapped on line 1"}},
        ParseCase{"NoFinalLineEnd", "6 = /dev/a", {{6, "/dev/a"}}, {}},
        // Some Windows editors begin a UTF-8 file with a byte-order mark.
        ParseCase{"ByteOrderMarkFirst",
                  "\xEF\xBB\xBF"
                  "6 = /dev/a\n",
                  {{6, "/dev/a"}},
                  {}}),
    [](const testing::TestParamInfo<ParseCase>& row) { return std::string(row.param.name); });

TEST(PortMap, AFileOfGarbageGivesABoundedListOfProblems) {
    std::string text;
    for (int i = 0; i < 1000; ++i) text += "garbage\n";
    const MapFile map = regwire::parse_port_map(text, "f");
    ASSERT_EQ(map.problems.size(), 11u);
    EXPECT_EQ(map.problems.back(), "f: 990 more problems");
}

TEST(PortMap, PrecedenceIsEnvironmentUserFileSystemFileDefault) {
    const MapFile user = regwire::parse_port_map("6 = /dev/user6\n7 = /dev/user7\n", "u");
    MapFile system = regwire::parse_port_map("6 = /dev/sys6\n8 = /dev/sys8\n9 = x\n", "s");
    struct Row {
        int32_t port;
        const char* env;
        std::string device;
        MapSource source;
        std::string origin;
    } rows[] = {
        {6, "/dev/env6", "/dev/env6", MapSource::Environment, "REGWIRE_PORT6"},
        {6, "", "/dev/user6", MapSource::UserFile, "u:1"},
        {6, nullptr, "/dev/user6", MapSource::UserFile, "u:1"},
        {8, nullptr, "/dev/sys8", MapSource::SystemFile, "s:2"},
        {9, nullptr, "/dev/ttyS8", MapSource::Default, ""},
        {1, nullptr, "/dev/ttyS0", MapSource::Default, ""},
        {2147483647, nullptr, "/dev/ttyS2147483646", MapSource::Default, ""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message()
                     << "port " << r.port << " env " << (r.env ? r.env : "unset"));
        const auto m = regwire::resolve_port(r.port, r.env, user, system);
        EXPECT_EQ(m.device, r.device);
        EXPECT_EQ(m.source, r.source);
        EXPECT_EQ(m.origin, r.origin);
        // The system file's bad line 3 is reported wherever the maps were consulted.
        EXPECT_EQ(m.problems.size(), r.source == MapSource::Environment ? 0u : 1u);
    }
    const auto m = regwire::resolve_port(9, nullptr, user, system);
    EXPECT_EQ(regwire::describe(m),
              "/dev/ttyS8 (default); s:3: the device \"x\" is neither an absolute path nor "
              "tcp:HOST:PORT; line ignored");
}

TEST(PortMap, UserMapPathFollowsTheXdgRules) {
    EXPECT_EQ(regwire::user_map_path("/cfg", "/home/u"), "/cfg/regwire/ports.conf");
    EXPECT_EQ(regwire::user_map_path("relative", "/home/u"), "/home/u/.config/regwire/ports.conf");
    EXPECT_EQ(regwire::user_map_path("", "/home/u"), "/home/u/.config/regwire/ports.conf");
    EXPECT_EQ(regwire::user_map_path(nullptr, nullptr), "");
}

class PortMapFiles : public testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/regwire_map_XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string dir_;
};

TEST_F(PortMapFiles, WhatIsFoundWhereAFileShouldBe) {
    const std::string file = dir_ + "/ports.conf";
    std::ofstream(file) << "6 = /dev/ttyUSB0\n";
    std::filesystem::create_directory(dir_ + "/dir.conf");
    const std::string big = dir_ + "/big.conf";
    {
        std::ofstream out(big);
        const std::string line = "6 = /dev/ttyUSB0 # padding padding padding padding\n";
        for (std::size_t n = 0; n < 10u * 1024 * 1024; n += line.size()) out << line;
    }
    const std::string fifo = dir_ + "/fifo.conf";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);

    struct Row {
        std::string path;
        std::size_t entries;
        std::string problem;  // empty: none
    } rows[] = {
        {file, 1, ""},
        {dir_ + "/missing.conf", 0, ""},
        {dir_ + "/dir.conf", 0, dir_ + "/dir.conf: is a directory"},
        {big, 0, big + ": larger than"},
        {fifo, 0, fifo + ": is not a regular file"},
        {"", 0, ""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.path);
        const MapFile map = regwire::read_port_map(r.path);
        EXPECT_EQ(map.entries.size(), r.entries);
        if (r.problem.empty()) {
            EXPECT_TRUE(map.problems.empty()) << testing::PrintToString(map.problems);
        } else {
            ASSERT_EQ(map.problems.size(), 1u);
            EXPECT_EQ(map.problems[0].rfind(r.problem, 0), 0u) << map.problems[0];
        }
    }
}

TEST(PortMapEdit, KeepsCommentsAndOtherLines) {
    const std::string text = "# bench 3\n6 = /dev/old  # adapter\n7 = /dev/b\n6 = /dev/dup\nbad\n";
    struct Row {
        int32_t port;
        std::string device;
        std::string want;
    } rows[] = {
        {6, "/dev/new", "# bench 3\n6 = /dev/new\n7 = /dev/b\nbad\n"},
        {8, "tcp:10.0.0.2:502", text + "8 = tcp:10.0.0.2:502\n"},
        {6, "", "# bench 3\n7 = /dev/b\nbad\n"},
        {9, "", text},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.port << " " << r.device);
        EXPECT_EQ(regwire::edit_port_map(text, r.port, r.device), r.want);
    }
    EXPECT_EQ(regwire::edit_port_map("", 6, "/dev/a"), "6 = /dev/a\n");
    EXPECT_EQ(regwire::edit_port_map("# no end", 6, "/dev/a"), "# no end\n6 = /dev/a\n");
    // The mark stays first, and the entry behind it is the one replaced.
    EXPECT_EQ(regwire::edit_port_map("\xEF\xBB\xBF"
                                     "6 = /dev/old\n",
                                     6, "/dev/a"),
              "\xEF\xBB\xBF"
              "6 = /dev/a\n");
}

}  // namespace
