// SPDX-License-Identifier: MIT
// The regwire tool's pure parts, without a process or a line: text made safe for
// a terminal, the order and bound of a scan, /proc/locks, probe's advice.
#include <gtest/gtest.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <string>
#include <vector>

#include "advice.h"
#include "printable.h"
#include "regwire.h"
#include "scan.h"

namespace {

using namespace regwire_tool;

TEST(ToolPrintable, EscapesWhatATerminalWouldObey) {
    struct Row {
        std::string text;
        std::string want;
    } rows[] = {
        {"/dev/ttyUSB0", "/dev/ttyUSB0"},
        {"a\x1b[2Jb", "a\\x1b[2Jb"},
        {"\x07\t\r\n\x7f", "\\x07\\x09\\x0d\\x0a\\x7f"},
        {"C:\\x", "C:\\\\x"},
        {"/dev/\xe5\xae\x8b\xe4\xbd\x93", "/dev/\xe5\xae\x8b\xe4\xbd\x93"},  // UTF-8 kept
        {"\xc2\x9b"
         "31m",
         "\\xc2\\x9b31m"},  // C1 CSI as UTF-8
        {"\x9b"
         "31m",
         "\\x9b31m"},                         // C1 CSI raw
        {"\xe5\xae", "\\xe5\\xae"},           // cut sequence
        {"\xc0\xaf", "\\xc0\\xaf"},           // overlong
        {"\xed\xa0\x80", "\\xed\\xa0\\x80"},  // a surrogate
    };
    for (const Row& r : rows) EXPECT_EQ(printable(r.text), r.want) << r.want;
}

TEST(ToolScan, TriesTheCommonSettingsFirstAndEachOnce) {
    const auto all = scan_order({}, {});
    ASSERT_EQ(all.size(), 27u);
    const std::vector<LineSettings> first = {{1, 2}, {1, 0}, {2, 2}, {2, 0}};
    EXPECT_TRUE(std::equal(first.begin(), first.end(), all.begin()));
    for (std::size_t i = 0; i < all.size(); ++i) {
        EXPECT_EQ(std::count(all.begin(), all.end(), all[i]), 1);
    }
    // Narrowed: only what was asked for, in the same order.
    EXPECT_EQ(scan_order({2}, {0}), (std::vector<LineSettings>{{2, 0}}));
    EXPECT_EQ(scan_order({8, 2}, {1, 2}),
              (std::vector<LineSettings>{{2, 2}, {2, 1}, {8, 2}, {8, 1}}));
}

TEST(ToolScan, TheBoundCoversWhatTheLibraryMayTake) {
    // Per station at 19200 bit/s with 50 ms allowed: the timeout is 15 characters
    // on the line and the allowance (58.6 ms); libRegwire may take three of them.
    ScanPlan plan;
    plan.settings = {{2, 0}};
    plan.stations = {1, 10};
    EXPECT_EQ(scan_typical_us(plan), 10u * 58594);
    EXPECT_EQ(scan_bound_us(plan), 1000000u + 10u * (3 * 58594));
    // Over TCP a request ends within its timeout, the allowance plus 50 ms.
    plan.tcp = true;
    EXPECT_EQ(scan_bound_us(plan), 2500000u + 10u * 100000);

    struct Row {
        uint64_t us;
        const char* text;
    } rows[] = {{0, "0.0 s"},
                {1234567, "1.2 s"},
                {59940000, "59.9 s"},
                {60000000, "1 min 00 s"},
                {3725000001, "62 min 06 s"}};
    for (const Row& r : rows) EXPECT_EQ(duration_text(r.us), r.text);
    EXPECT_EQ(probe_line(6, {2, 0}, 17, false),
              "regwire probe 6 --speed 19200 --parity none --station 17");
    EXPECT_EQ(probe_line(7, {2, 0}, 3, true), "regwire probe 7 --station 3");
}

TEST(ToolAdvice, LockHoldersOfOneFile) {
    const std::string locks =
        "1: FLOCK  ADVISORY  WRITE 4242 00:19:3 0 EOF\n"
        "1: -> FLOCK  ADVISORY  WRITE 4343 00:19:3 0 EOF\n"
        "2: POSIX  ADVISORY  WRITE 99 fd:01:3 0 EOF\n"
        "3: FLOCK  ADVISORY  WRITE 77 00:19:30 0 EOF\n"
        "4: OFDLCK ADVISORY  READ  -1 00:19:3 0 EOF\n"
        "garbage\n";
    EXPECT_EQ(lock_holders(locks, makedev(0, 0x19), 3), (std::vector<pid_t>{4242, 4343}));
    EXPECT_EQ(lock_holders(locks, makedev(0xfd, 1), 3), (std::vector<pid_t>{99}));
    EXPECT_TRUE(lock_holders(locks, makedev(0, 0x19), 4).empty());
}

TEST(ToolAdvice, SaysWhatTheFailureMeans) {
    ProbeFailure tcp{7,
                     "tcp:10.0.0.9:502",
                     true,
                     REGWIRE_EOPEN,
                     "port 7 (tcp:10.0.0.9:502): open: Operation now in progress",
                     0,
                     "none",
                     1};
    auto lines = failure_advice(tcp, {});
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "port 7 (tcp:10.0.0.9:502): open: timed out connecting");
    // A silent unit over TCP: no word of speeds or wires.
    tcp.result = REGWIRE_ETIMEOUT;
    tcp.account = "port 7 (tcp:10.0.0.9:502), station 1, reading registers 0..9: no reply";
    lines = failure_advice(tcp, {});
    EXPECT_NE(lines[2].find("the unit id"), std::string::npos);
    for (const std::string& l : lines) EXPECT_EQ(l.find("A and B"), std::string::npos) << l;

    ProbeFailure busy{6,
                      "/dev/ttyUSB0",
                      true,
                      REGWIRE_EOPEN,
                      "port 6 (/dev/ttyUSB0): open: Device or resource busy",
                      9600,
                      "even",
                      1};
    EXPECT_EQ(failure_advice(busy, {"pid 12 (wordbench)"}).back(), "Held by pid 12 (wordbench).");
    EXPECT_EQ(failure_advice(busy, {}).back(),
              "Another program holds /dev/ttyUSB0; close it and try again.");
}

}  // namespace
