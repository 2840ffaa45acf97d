// SPDX-License-Identifier: MIT
// The benchmark programs seen from outside: options, the figures that are pure
// arithmetic, and the figures that show what was measured. No timing is judged.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "process.h"

namespace perf {
namespace {

using namespace std::chrono_literals;
using support::run_to_end;
using support::RunResult;
using support::SpawnOptions;

RunResult run(std::vector<std::string> argv, std::chrono::seconds limit = 120s) {
    SpawnOptions o;
    argv[0] = std::string(BENCH_BIN_DIR) + "/" + argv[0];
    o.argv = std::move(argv);
    o.capture_stderr = true;
    return run_to_end(o, limit);
}

std::vector<std::vector<std::string>> rows(const std::string& out) {
    std::vector<std::vector<std::string>> all;
    std::size_t at = 0;
    while ((at = out.find("ROW\t", at)) != std::string::npos) {
        const std::size_t end = out.find('\n', at);
        std::vector<std::string> fields;
        std::size_t from = at + 4;
        for (std::size_t tab; (tab = out.find('\t', from)) < end; from = tab + 1)
            fields.push_back(out.substr(from, tab - from));
        fields.push_back(out.substr(from, end - from));
        all.push_back(fields);
        at = end;
    }
    return all;
}

TEST(Programs, RejectBadOptionsBeforeStartingAnything) {
    const std::vector<std::vector<std::string>> cases = {
        {"bench_roundtrip", "--calls", "0"}, {"bench_peers", "--calls", "1"},
        {"bench_silent", "--bogus"},         {"bench_roundtrip", "--one-cpu-only", "--free-only"},
        {"bench_peers", "--cpu", "-1"},      {"bench_window_work", "--ticks", "x"},
        {"bench_startup", "--runs"},         {"bench_idle", "--seconds", "0"},
    };
    for (const auto& argv : cases) {
        const RunResult r = run(argv, 30s);
        EXPECT_TRUE(r.finished) << argv[0];
        EXPECT_EQ(r.exit_code, 2) << argv[0];
        EXPECT_NE(r.err.find("usage: " + argv[0]), std::string::npos) << argv[0] << ": " << r.err;
        EXPECT_TRUE(rows(r.out).empty()) << argv[0];
    }
}

TEST(Programs, WireTableOfTheNineSpeeds) {
    const RunResult r = run({"bench_wire_table"});
    ASSERT_EQ(r.exit_code, 0);
    // Header, separator, nine speeds.
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 11);
    for (const char* line : {
             "| 4800 | 2291.67 | 339.17 | 678.33 | 339.17 / 678.33 | 423.1 |",
             "| 9600 | 1145.83 | 169.58 | 339.17 | 169.58 / 339.17 | 261.6 |",
             "| 115200 | 95.49 | 14.13 | 28.26 | 16.96 / 33.93 | 113.5 |",
             "| 921600 | 11.94 | 1.77 | 3.53 | 5.18 / 10.37 | 101.7 |",
         }) {
        EXPECT_NE(r.out.find(line), std::string::npos) << line;
    }
}

TEST(Programs, EveryRowHasSixFieldsAndAKnownVerdict) {
    const RunResult r = run({"bench_window_work", "--ticks", "3"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const auto all = rows(r.out);
    ASSERT_EQ(all.size(), 4u);  // read tick and write grid, both programs
    for (const auto& row : all) {
        ASSERT_EQ(row.size(), 6u);
        EXPECT_TRUE(row[5] == "met" || row[5] == "missed") << row[5];
        EXPECT_TRUE(std::regex_match(row[1], std::regex(R"(\d+\.\d+ ms \(p99 \d+\.\d+ ms\))")))
            << row[1];
    }
    // Each tick was drawn: the measurement holds the repaint, not only the handler.
    std::smatch m;
    std::string rest = r.out;
    int lines = 0;
    while (std::regex_search(rest, m, std::regex(R"((\d+) paints of the grid in (\d+) ticks)"))) {
        EXPECT_GE(std::stoi(m[1]), std::stoi(m[2]));
        rest = m.suffix();
        ++lines;
    }
    EXPECT_EQ(lines, 4);
}

TEST(Programs, SilentSlaveHoldsTheCallerForItsBoundAndNoLess) {
    const RunResult r = run({"bench_silent", "--calls", "1"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    int checked = 0;
    for (const auto& row : rows(r.out)) {
        if (row[0].rfind("silent slave: 64-register read blocks at ", 0) != 0) continue;
        // A call that returned before its bound did not wait for the slave at all.
        const double blocked = std::stod(row[1]);
        const double bound = std::stod(row[2].substr(row[2].find(' ') + 1));
        EXPECT_GE(blocked, bound - 0.5) << row[0];
        ++checked;
    }
    EXPECT_EQ(checked, 3);
    for (const char* bound : {"bound 261.6 ms", "bound 140.4 ms", "bound 113.5 ms"}) {
        EXPECT_NE(r.out.find(bound), std::string::npos) << bound;
    }
}

TEST(Programs, StartupSkipsXWhenAskedAndMeasuresTheRest) {
    const RunResult r = run({"bench_startup", "--runs", "1", "--no-x"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    int skipped = 0;
    int memory = 0;
    for (const auto& row : rows(r.out)) {
        if (row[5] == "skipped") ++skipped;
        if (row[0].find("peak resident memory (VmHWM), offscreen") != std::string::npos) {
            EXPECT_GT(std::stod(row[1]), 1.0);  // MiB
            ++memory;
        }
    }
    EXPECT_EQ(skipped, 2);
    EXPECT_EQ(memory, 1);
}

}  // namespace
}  // namespace perf
