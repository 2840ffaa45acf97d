// SPDX-License-Identifier: MIT
// The simulator's command line, fault schedule and register patterns.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "counters.h"
#include "faults.h"
#include "options.h"
#include "registers.h"
#include "slave_process.h"

namespace {

using namespace benchslave;

TEST(BenchslaveOptions, AcceptsWhatTheUsageShows) {
    auto r = parse_options({"--tcp",
                            "0",
                            "--station",
                            "247",
                            "--pattern",
                            "demo",
                            "--no-reply-every",
                            "3",
                            "--bad-crc-every",
                            "4",
                            "--exception",
                            "11",
                            "--exception-every",
                            "5",
                            "--delay-ms",
                            "250",
                            "--delay-every",
                            "6",
                            "--counters-file",
                            "/tmp/x",
                            "--verbose"});
    ASSERT_TRUE(r.options) << r.message;
    const Options& o = *r.options;
    EXPECT_EQ(o.mode, LineMode::Tcp);
    EXPECT_EQ(o.tcp_port, 0);
    EXPECT_EQ(o.station, 247);
    EXPECT_EQ(o.pattern, Pattern::Demo);
    EXPECT_EQ(o.no_reply.n, 3u);
    EXPECT_EQ(o.bad_crc.n, 4u);
    EXPECT_EQ(o.exception_code, 11);
    EXPECT_EQ(o.exception.n, 5u);
    EXPECT_EQ(o.delay_ms, 250);
    EXPECT_EQ(o.delay.n, 6u);
    EXPECT_EQ(o.counters_file, "/tmp/x");
    EXPECT_TRUE(o.verbose);

    auto d = parse_options({"--device", "/dev/ttyUSB0", "--baud", "9600", "--parity", "E"});
    ASSERT_TRUE(d.options) << d.message;
    EXPECT_EQ(d.options->mode, LineMode::Device);
    EXPECT_EQ(d.options->device, "/dev/ttyUSB0");
    EXPECT_EQ(d.options->baud, 9600);
    EXPECT_EQ(d.options->parity, 'E');

    auto faults = parse_options({"--late-ms", "150", "--wrong-unit-every", "2",
                                 "--wrong-protocol-every", "3", "--wrong-echo-every", "4"});
    ASSERT_TRUE(faults.options) << faults.message;
    EXPECT_EQ(faults.options->late_ms, 150);
    EXPECT_EQ(faults.options->wrong_unit.n, 2u);
    EXPECT_EQ(faults.options->wrong_protocol.n, 3u);
    EXPECT_EQ(faults.options->wrong_echo.n, 4u);

    auto any = parse_options({"--tcp", "0", "--listen", "0.0.0.0"});
    ASSERT_TRUE(any.options) << any.message;
    EXPECT_EQ(any.options->listen, "0.0.0.0");

    auto models = parse_options({"--pty", "--baud", "9600", "--pattern", "address",
                                 "--one-at-a-time", "drop", "--delay-range", "50:1900", "--seed",
                                 "9", "--duplicate-ms", "20:400", "--echo", "--drop-chance", "3"});
    ASSERT_TRUE(models.options) << models.message;
    const Options& m = *models.options;
    EXPECT_TRUE(m.baud_given);
    EXPECT_EQ(m.pattern, Pattern::Address);
    EXPECT_EQ(m.busy, Busy::Drop);
    EXPECT_EQ(m.delay_min_ms, 50);
    EXPECT_EQ(m.delay_max_ms, 1900);
    EXPECT_EQ(m.seed, 9u);
    EXPECT_EQ(m.duplicate_ms, 20);
    EXPECT_EQ(m.duplicate_max_ms, 400);
    EXPECT_TRUE(m.echo);
    EXPECT_EQ(m.drop_chance, 3u);

    auto defaults = parse_options({});
    ASSERT_TRUE(defaults.options);
    EXPECT_EQ(defaults.options->mode, LineMode::Pty);
    EXPECT_EQ(defaults.options->station, 1);
    EXPECT_EQ(defaults.options->pattern, Pattern::Zeros);
    EXPECT_EQ(defaults.options->baud, 19200);
    EXPECT_EQ(defaults.options->parity, 'N');
    EXPECT_FALSE(defaults.options->baud_given);
    EXPECT_EQ(defaults.options->busy, Busy::Overlap);
    EXPECT_EQ(defaults.options->seed, 1u);
    EXPECT_EQ(defaults.options->listen, "127.0.0.1");
}

TEST(BenchslaveOptions, RefusesWhatItCannotDo) {
    const std::vector<std::vector<std::string>> bad = {
        {"--station", "0"},
        {"--station", "248"},
        {"--station", "x"},
        {"--tcp", "65536"},
        {"--tcp"},
        {"--pattern", "ramp"},
        {"--exception", "0"},
        {"--exception", "12"},
        {"--no-reply-every", "0"},
        {"--delay-every", "-1"},
        {"--delay-ms", "1e3"},
        {"--parity", "X"},
        {"--device"},
        {"--frobnicate"},
        {"--station", "1 "},
        {"--late-ms", "-1"},
        {"--late-ms", "60001"},
        {"--wrong-echo-every", "0"},
        {"--one-at-a-time", "sometimes"},
        {"--delay-range", "50"},
        {"--delay-range", "90:50"},
        {"--delay-range", "0:60001"},
        {"--drop-chance", "0"},
        {"--seed", "-1"},
        {"--duplicate-ms", "x"},
        {"--duplicate-ms", "400:20"},
        {"--tcp", "0", "--echo"},
        {"--listen", "localhost"},
    };
    for (const auto& args : bad) {
        auto r = parse_options(args);
        EXPECT_FALSE(r.options) << args[0];
        EXPECT_FALSE(r.help);
        EXPECT_NE(r.message.find("usage"), std::string::npos);
    }
    auto help = parse_options({"--help"});
    EXPECT_TRUE(help.help);
    EXPECT_FALSE(help.options);
}

TEST(BenchslaveFaults, ScheduleAndMagicRegisters) {
    Options o;
    o.no_reply = {3};
    o.bad_crc = {2};
    o.exception = {5};
    o.exception_code = 6;
    o.delay = {4};
    o.delay_ms = 77;
    struct Case {
        unsigned long n;
        RequestRange range;
        ReplyKind kind;
        int code;
        int delay;
    } cases[] = {
        {1, {3, 0, 10}, ReplyKind::Normal, 0, 0},
        {2, {3, 0, 10}, ReplyKind::BadCrc, 0, 0},
        {3, {3, 0, 10}, ReplyKind::None, 0, 0},
        {4, {3, 0, 10}, ReplyKind::BadCrc, 0, 77},
        {5, {3, 0, 10}, ReplyKind::Exception, 6, 0},
        {6, {3, 0, 10}, ReplyKind::None, 0, 0},        // silence wins over a bad CRC
        {7, {3, 59990, 12}, ReplyKind::None, 0, 0},    // reaches 60001
        {7, {3, 59990, 11}, ReplyKind::Normal, 0, 0},  // stops just before it
        {7, {16, kMagicBadCrc, 1}, ReplyKind::BadCrc, 0, 0},
        {7, {6, kMagicException, 1}, ReplyKind::Exception, kMagicExceptionCode, 0},
        {7, {3, kMagicDelay, 1}, ReplyKind::Normal, 0, 77},
        {7, {3, 60005, 100}, ReplyKind::Normal, 0, 0},
        {7, {8, kMagicNoReply, 0}, ReplyKind::Normal, 0, 0},  // no registers, no magic
    };
    for (const Case& c : cases) {
        const FaultDecision d = decide_fault(o, c.n, c.range);
        EXPECT_EQ(d.kind, c.kind) << "request " << c.n << " start " << c.range.start;
        if (c.kind == ReplyKind::Exception) {
            EXPECT_EQ(d.exception_code, c.code);
        }
        EXPECT_EQ(d.delay_ms, c.delay) << "request " << c.n << " start " << c.range.start;
    }
}

TEST(BenchslaveRegisters, DemoPatternHasFixedSignedValuesAndMoves) {
    std::vector<std::uint16_t> regs(kRegisterCount, 0xAAAA);
    fill_pattern(Pattern::Zeros, regs.data());
    for (std::uint16_t r : regs) ASSERT_EQ(r, 0);

    fill_pattern(Pattern::Demo, regs.data());
    EXPECT_EQ(regs[104], 0xFFFF);
    EXPECT_EQ(regs[103], 0x8000);
    EXPECT_EQ(regs[116], 0x1234);
    EXPECT_EQ(regs[117], 0x5678);
    EXPECT_EQ(regs[200], 0);

    std::vector<std::uint16_t> later = regs;
    update_demo(later.data(), 1);
    int moved = 0;
    bool negative = false;
    for (int r = 0; r < kDemoMovingEnd; ++r) {
        if (later[r] != regs[r]) ++moved;
        if (r >= 20 && r < 40 && (later[r] & 0x8000) != 0) negative = true;
    }
    EXPECT_GT(moved, 30);
    EXPECT_TRUE(negative);
    for (int r = kDemoMovingEnd; r < kRegisterCount; ++r) ASSERT_EQ(later[r], regs[r]) << r;
}

TEST(BenchslaveCounters, TextReadsBackAsWritten) {
    Counters c;
    c.add("requests", 3);
    c.add("fc03");
    c.set("line_baud", 921600);
    const auto parsed = support::parse_counters(c.text());
    EXPECT_EQ(parsed.at("requests"), 3);
    EXPECT_EQ(parsed.at("fc03"), 1);
    EXPECT_EQ(parsed.at("line_baud"), 921600);
    EXPECT_EQ(parsed.at("replies"), 0) << "every key is present from the start";
}

}  // namespace
