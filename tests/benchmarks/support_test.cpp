// SPDX-License-Identifier: MIT
// The measuring tools of the benchmarks: if these are wrong, every figure is.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <ostream>
#include <string>
#include <vector>

#include "process.h"
#include "regwire_library.h"
#include "slave_process.h"
#include "support/args.h"
#include "support/cpu.h"
#include "support/proc.h"
#include "support/report.h"
#include "support/stats.h"
#include "support/wire.h"

namespace perf {
namespace {

using namespace std::chrono_literals;
using support::Child;
using support::on_path;
using support::RegwireLibrary;
using support::run_to_end;
using support::RunResult;
using support::SlaveOptions;
using support::SlaveProcess;
using support::SpawnOptions;

struct SummaryCase {
    const char* name;
    std::vector<double> samples;
    double median, p99, min, max;
};

void PrintTo(const SummaryCase& c, std::ostream* os) {
    *os << c.name;
}

class Summaries : public ::testing::TestWithParam<SummaryCase> {};

TEST_P(Summaries, MedianP99MinMax) {
    const SummaryCase& c = GetParam();
    const Summary s = summarize(c.samples);
    EXPECT_EQ(s.count, c.samples.size());
    EXPECT_DOUBLE_EQ(s.median, c.median);
    EXPECT_DOUBLE_EQ(s.p99, c.p99);
    EXPECT_DOUBLE_EQ(s.min, c.min);
    EXPECT_DOUBLE_EQ(s.max, c.max);
}

std::vector<double> one_to(int n) {
    std::vector<double> v;
    for (int i = n; i >= 1; --i) v.push_back(i);  // unsorted on purpose
    return v;
}

std::vector<double> one_slow_in_a_hundred() {
    std::vector<double> v(99, 1.0);
    v.push_back(40);
    return v;
}

// Nearest rank: p99 is the 99th of 100, the 990th of 1000, the last of 50. One slow
// call in a hundred moves p99 but not the median.
INSTANTIATE_TEST_SUITE_P(
    Cases, Summaries,
    ::testing::Values(SummaryCase{"empty", {}, 0, 0, 0, 0}, SummaryCase{"one", {5}, 5, 5, 5, 5},
                      SummaryCase{"odd", {3, 1, 2}, 2, 3, 1, 3},
                      SummaryCase{"even", {4, 1, 3, 2}, 2.5, 4, 1, 4},
                      SummaryCase{"hundred", one_to(100), 50.5, 99, 1, 100},
                      SummaryCase{"thousand", one_to(1000), 500.5, 990, 1, 1000},
                      SummaryCase{"fifty", one_to(50), 25.5, 50, 1, 50},
                      SummaryCase{"one_slow_in_a_hundred", one_slow_in_a_hundred(), 1, 1, 1, 40}),
    [](const ::testing::TestParamInfo<SummaryCase>& each) { return std::string(each.param.name); });

TEST(Percentile, NearestRankOfUnsortedSamples) {
    EXPECT_DOUBLE_EQ(percentile({10, 1, 7, 3, 5, 2, 9, 4, 8, 6}, 50), 5);
    EXPECT_DOUBLE_EQ(percentile({10, 1, 7, 3, 5, 2, 9, 4, 8, 6}, 90), 9);
    EXPECT_DOUBLE_EQ(percentile({10, 1, 7, 3, 5, 2, 9, 4, 8, 6}, 100), 10);
    EXPECT_DOUBLE_EQ(percentile({}, 50), 0);
}

TEST(PairedRatio, ALoadChangeBetweenBlocksIsNotADifference) {
    // Side a is 10% slower in every pair, while the machine gets ten times slower
    // from the third pair on: overall medians would mix the two regimes unevenly.
    const std::vector<std::vector<double>> a = {
        {1.1, 1.1}, {1.1, 1.1}, {11, 11}, {11, 11}, {11, 11}};
    const std::vector<std::vector<double>> b = {{1, 1}, {1, 1}, {1, 1}, {10, 10}, {10, 10}};
    EXPECT_NEAR(paired_ratio(a, b), 1.1, 1e-9);
}

TEST(PairedRatio, SkipsEmptyBlocksAndUnpairedOnes) {
    EXPECT_NEAR(paired_ratio({{2}, {}, {4}, {9}}, {{1}, {5}, {2}}), 2.0, 1e-9);
    EXPECT_DOUBLE_EQ(paired_ratio({}, {{1}}), 0);
}

struct FrameCase {
    std::vector<Exchange> exchanges;
    std::vector<std::pair<int, int>> bytes;  // request, reply of each
};

TEST(Frames, SplitAsRegwireSplitsAndSizedPerExchange) {
    const std::vector<FrameCase> cases = {
        {read_exchanges(64, 125), {{8, 133}}},             // 16-bit read of 64
        {read_exchanges(128, 124), {{8, 253}, {8, 13}}},   // 32-bit read of 64: 124 + 4
        {read_exchanges(125, 125), {{8, 255}}},            // the largest single read
        {write_exchanges(64, 123), {{137, 8}}},            // 16-bit write of 64
        {write_exchanges(128, 122), {{253, 8}, {21, 8}}},  // 32-bit write of 64: 122 + 6
        {read_exchanges(0, 125), {}},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        ASSERT_EQ(cases[i].exchanges.size(), cases[i].bytes.size()) << "case " << i;
        for (std::size_t k = 0; k < cases[i].bytes.size(); ++k) {
            EXPECT_EQ(cases[i].exchanges[k].request_bytes, cases[i].bytes[k].first) << "case " << i;
            EXPECT_EQ(cases[i].exchanges[k].reply_bytes, cases[i].bytes[k].second) << "case " << i;
        }
    }
}

TEST(WireTime, ElevenBitsACharacterPlusGaps) {
    // 8 + 133 bytes and 2 x 3.5 characters of silence: 148 characters, 1628 bits.
    EXPECT_NEAR(wire_ms(read_exchanges(64, 125), 9600), 1628.0 / 9.6, 1e-9);
    EXPECT_NEAR(wire_ms(read_exchanges(64, 125), 115200), 1628.0 / 115.2, 1e-9);
    // Two exchanges: 8 + 253 + 8 + 13 bytes and 4 gaps: 296 characters.
    EXPECT_NEAR(wire_ms(read_exchanges(128, 124), 38400), 296 * 11 / 38.4, 1e-9);
    EXPECT_DOUBLE_EQ(wire_ms(read_exchanges(64, 125), 0), 0);
}

TEST(WireTime, FixedGapsOnlyWhereTheyAreLonger) {
    // At 19200 and below the gaps stay 3.5 characters.
    EXPECT_NEAR(wire_ms_fixed_gaps(read_exchanges(64, 125), 9600),
                wire_ms(read_exchanges(64, 125), 9600), 1e-9);
    EXPECT_NEAR(wire_ms_fixed_gaps(read_exchanges(64, 125), 19200),
                wire_ms(read_exchanges(64, 125), 19200), 1e-9);
    // At 115200: 141 characters and two gaps of 1.75 ms.
    EXPECT_NEAR(wire_ms_fixed_gaps(read_exchanges(64, 125), 115200), 141 * 11 / 115.2 + 3.5, 1e-9);
    EXPECT_NEAR(wire_ms_fixed_gaps(read_exchanges(128, 124), 921600), 282 * 11 / 921.6 + 7.0, 1e-9);
}

TEST(ResponseBound, MatchesRegwiresDocumentedExample) {
    // regwire/README.md: 10 registers at 19200 wait at most 33 x 11 / 19200 s + 100 ms.
    EXPECT_NEAR(response_bound_ms(read_exchanges(10, 125).at(0), 19200, 100), 118.906, 1e-3);
    EXPECT_NEAR(response_bound_ms({8, 133}, 9600, 100), 261.5625, 1e-9);
}

TEST(Report, FiguresAndRatiosAsTheTableShowsThem) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {ms_text(0.01234), "0.012 ms"},     {ms_text(12.3456), "12.35 ms"},
        {ms_text(262.14), "262.1 ms"},      {ratio_text(1.047, 1), "1.047x"},
        {ratio_text(2.5, 0), "-"},          {ratio_text(2344, 1), "2344x"},
        {ratio_text(0.0016, 1), "0.0016x"}, {verdict_text(true), "met"},
        {verdict_text(false), "missed"},
    };
    for (const auto& [got, want] : cases) EXPECT_EQ(got, want);
}

TEST(Report, RowIsOneLineOfSixTabSeparatedFields) {
    const std::string line = row_line({"a\tb", "1 ms", "", "1.0x", "<= 2x\n", "met"});
    EXPECT_EQ(line, "ROW\ta b\t1 ms\t-\t1.0x\t<= 2x \tmet");
}

TEST(Proc, CpuTicksFromAStatLineWhoseNameHasSpacesAndParentheses) {
    const std::string stat =
        "1234 (my (odd) prog) S 1 1234 1234 0 -1 4194304 100 0 0 0 250 17 0 0 20 0 3 0 500 1000 "
        "200";
    EXPECT_EQ(parse_cpu_ticks(stat), 267);
    EXPECT_FALSE(parse_cpu_ticks("1234 no parentheses at all"));
    EXPECT_FALSE(parse_cpu_ticks("1234 (short) S 1 2 3"));
    EXPECT_FALSE(parse_cpu_ticks("1 (x) S 1 1 1 0 -1 0 0 0 0 0 1x 2 0"));
}

TEST(Proc, StatusValuesByExactKey) {
    const std::string status =
        "Name:\tx\nVmHWMax:\t1 kB\nVmHWM:\t   39492 kB\nRssAnon:\t7076 kB\nThreads:\t3\n";
    EXPECT_EQ(parse_status_kib(status, "VmHWM"), 39492);
    EXPECT_EQ(parse_status_kib(status, "RssAnon"), 7076);
    EXPECT_FALSE(parse_status_kib(status, "VmRSS"));
    EXPECT_FALSE(parse_status_kib(status, "Threads"));  // no kB: not a size
}

TEST(Proc, ThisProcessIsReadable) {
    EXPECT_GT(vm_hwm_kib(::getpid()).value_or(0), 0);
    EXPECT_TRUE(rss_anon_kib(::getpid()));
    EXPECT_GT(ticks_per_second(), 0);
    // CPU time grows while this thread works; a deadline only stops a broken reading.
    const long long before = cpu_ns(::getpid()).value_or(-1);
    ASSERT_GE(before, 0);
    volatile double sink = 0;
    const auto give_up = std::chrono::steady_clock::now() + 10s;
    while (cpu_ns(::getpid()).value_or(-1) < before + 5'000'000 &&
           std::chrono::steady_clock::now() < give_up) {
        for (int i = 0; i < 100000; ++i) sink = sink + std::sqrt(static_cast<double>(i));
    }
    EXPECT_GE(cpu_ns(::getpid()).value_or(-1), before + 5'000'000);
}

bool alive(pid_t pid) {
    return ::kill(pid, 0) == 0;
}

TEST(Child, OutputLinesExitCodeAndEnvironment) {
    ::setenv("BENCH_TEST_GONE", "still here", 1);
    SpawnOptions o;
    o.argv = {
        "sh", "-c",
        "echo first; echo \"$BENCH_TEST_SET|${BENCH_TEST_GONE-unset}\"; echo oops >&2; exit 3"};
    o.env = {{"BENCH_TEST_SET", "yes"}};
    o.unset = {"BENCH_TEST_GONE"};
    o.capture_stderr = true;
    const RunResult r = run_to_end(o, 10s);
    EXPECT_TRUE(r.finished);
    EXPECT_EQ(r.exit_code, 3);
    EXPECT_EQ(r.out, "first\nyes|unset\n");
    EXPECT_EQ(r.err, "oops\n");
    EXPECT_GT(r.seconds, 0);
}

TEST(Child, StdoutLineByLineAndStderrMarker) {
    SpawnOptions o;
    o.argv = {"sh", "-c",
              "echo one; echo two; echo noise >&2; echo 'x: the marker here' >&2; sleep 30"};
    o.capture_stderr = true;
    std::string error;
    auto child = Child::spawn(o, error);
    ASSERT_TRUE(child) << error;
    EXPECT_EQ(child->stdout_line(std::chrono::steady_clock::now() + 10s), "one");
    EXPECT_EQ(child->stdout_line(std::chrono::steady_clock::now() + 10s), "two");
    EXPECT_TRUE(child->await_stderr("the marker", std::chrono::steady_clock::now() + 10s));
    // Nothing more comes: the deadline ends the wait.
    EXPECT_FALSE(child->stdout_line(std::chrono::steady_clock::now() + 100ms));
    const pid_t pid = child->pid();
    child->stop();
    EXPECT_FALSE(alive(pid));
}

TEST(Child, AwaitStderrGivesUpWhenTheStreamEnds) {
    SpawnOptions o;
    o.argv = {"sh", "-c", "echo something else >&2"};
    o.capture_stderr = true;
    std::string error;
    auto child = Child::spawn(o, error);
    ASSERT_TRUE(child) << error;
    EXPECT_FALSE(child->await_stderr("marker", std::chrono::steady_clock::now() + 10s));
}

TEST(Child, StopKillsAProcessThatIgnoresTerm) {
    SpawnOptions o;
    o.argv = {"sh", "-c", "trap '' TERM; echo ready; while :; do sleep 1; done"};
    std::string error;
    auto child = Child::spawn(o, error);
    ASSERT_TRUE(child) << error;
    ASSERT_EQ(child->stdout_line(std::chrono::steady_clock::now() + 10s), "ready");
    const pid_t pid = child->pid();
    const int status = child->stop(200ms);
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGKILL);
    EXPECT_FALSE(alive(pid));
    EXPECT_TRUE(child->exited());
}

TEST(Child, RunToEndKillsAnOverrunningProgram) {
    SpawnOptions o;
    o.argv = {"sleep", "30"};
    const RunResult r = run_to_end(o, 200ms);
    EXPECT_FALSE(r.finished);
    EXPECT_LT(r.seconds, 20);
}

TEST(Child, PinnedToTheCpuAsked) {
    const int cpu = default_bench_cpu();
    ASSERT_GE(cpu, 0);
    SpawnOptions o;
    o.argv = {"sh", "-c", "grep Cpus_allowed_list /proc/self/status | cut -f2"};
    o.cpu = cpu;
    EXPECT_EQ(run_to_end(o, 10s).out, std::to_string(cpu) + "\n");
}

TEST(Child, ProgramsFoundOnThePath) {
    EXPECT_TRUE(on_path("sh"));
    EXPECT_TRUE(on_path("/bin/sh"));
    EXPECT_FALSE(on_path("no-such-program-for-bench"));
    std::string error;
    EXPECT_FALSE(Child::spawn({}, error));
    EXPECT_FALSE(error.empty());
}

TEST(Args, ValuesFlagsAndMistakes) {
    struct Case {
        std::vector<std::string> argv;
        bool ok;
        long calls;
        bool quick;
    };
    const std::vector<Case> cases = {
        {{}, true, 1000, false},
        {{"--calls", "5"}, true, 5, false},
        {{"--quick", "--calls", "7"}, true, 7, true},
        {{"--calls"}, false, 1000, false},        // value missing
        {{"--calls", "0"}, false, 1000, false},   // below the minimum
        {{"--calls", "5x"}, false, 1000, false},  // not a number
        {{"--cals", "5"}, false, 1000, false},    // unknown option
    };
    for (const Case& c : cases) {
        std::vector<char*> argv{const_cast<char*>("bench")};
        for (const auto& a : c.argv) argv.push_back(const_cast<char*>(a.c_str()));
        Args args(static_cast<int>(argv.size()), argv.data(), {"--calls"}, {"--quick"});
        const long calls = args.number("--calls", 1000);
        EXPECT_EQ(args.ok(), c.ok) << c.argv.size();
        EXPECT_EQ(calls, c.calls);
        EXPECT_EQ(args.flag("--quick"), c.quick);
    }
}

TEST(Slave, StartsOnAPtyAndStopsByPid) {
    SlaveProcess slave(SlaveOptions::for_timing({"--station", "3"}));
    ASSERT_TRUE(slave.started()) << slave.error();
    EXPECT_EQ(slave.address().rfind("/dev/pts/", 0), 0u);
    EXPECT_EQ(::access(slave.address().c_str(), R_OK | W_OK), 0);
    const pid_t pid = slave.pid();
    slave.stop();
    EXPECT_FALSE(alive(pid));
}

TEST(Slave, ABadOptionIsReported) {
    SlaveProcess slave(SlaveOptions::for_timing({"--no-such-option"}));
    EXPECT_FALSE(slave.started());
    EXPECT_FALSE(slave.error().empty());
    EXPECT_EQ(slave.pid(), -1);
}

TEST(RegwireLibrary, LoadedByNameFromTheBuild) {
    RegwireLibrary api;
    std::string error;
    ASSERT_TRUE(api.load(error)) << error;
    EXPECT_NE(api.path().find("libRegwire.so"), std::string::npos);
    EXPECT_STREQ(api.Regwire_strerror(0), "success");
    // Nothing open on this port: the library answers without touching a device.
    int32_t buffer[4] = {};
    EXPECT_EQ(api.Get_4X_DX(9999, 1, 0, 4, buffer), -2);
}

}  // namespace
}  // namespace perf
