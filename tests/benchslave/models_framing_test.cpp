// SPDX-License-Identifier: MIT
// The slave models' timing and the two framings, on byte vectors and clock values.
#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "../reliability/modbus_crc.h"
#include "framing.h"
#include "models.h"

namespace {

using namespace benchslave;
using std::chrono::milliseconds;

TEST(BenchslaveModels, WhenRepliesLeave) {
    struct Arrival {
        int at_ms;
        int busy_ms;
        int due_ms;  // -1: dropped
    };
    struct Case {
        const char* name;
        Busy busy;
        bool in_order;
        std::vector<Arrival> arrivals;
    } cases[] = {
        {"serial line: each due its delay, in order",
         Busy::Overlap,
         true,
         {{0, 100, 100}, {10, 0, 100}, {20, 150, 170}, {30, 0, 170}}},
        {"TCP: each at its own time",
         Busy::Overlap,
         false,
         {{0, 100, 100}, {10, 0, 10}, {20, 50, 70}}},
        {"one at a time, queueing",
         Busy::Queue,
         true,
         {{0, 150, 150}, {10, 150, 300}, {20, 150, 450}, {500, 0, 500}}},
        {"one at a time, dropping",
         Busy::Drop,
         true,
         {{0, 100, 100}, {50, 100, -1}, {100, 100, 200}, {150, 10, -1}, {250, 10, 260}}},
    };
    const Clock::time_point t0{};
    for (const Case& c : cases) {
        Schedule schedule(c.busy, c.in_order);
        for (const Arrival& a : c.arrivals) {
            const auto now = t0 + milliseconds(a.at_ms);
            if (schedule.drops(now)) {
                EXPECT_EQ(a.due_ms, -1) << c.name << ": arrival at " << a.at_ms;
                continue;
            }
            const auto due = schedule.take(now, milliseconds(a.busy_ms));
            EXPECT_EQ(due - t0, milliseconds(a.due_ms)) << c.name << ": arrival at " << a.at_ms;
        }
    }
}

TEST(BenchslaveModels, SeededChanceRepeats) {
    Dice a(42);
    Dice b(42);
    int dropped = 0;
    for (int i = 0; i < 1000; ++i) {
        const int delay = a.between(50, 1900);
        ASSERT_EQ(delay, b.between(50, 1900));
        ASSERT_GE(delay, 50);
        ASSERT_LE(delay, 1900);
        if (a.one_in(4)) ++dropped;
        b.one_in(4);
    }
    EXPECT_GT(dropped, 150);
    EXPECT_LT(dropped, 350);
}

Bytes sealed(Bytes frame) {
    reliability::append_crc(frame);
    return frame;
}

TEST(BenchslaveFraming, RtuFramesEndWhenWholeOrWhenTheLineIsQuiet) {
    const Bytes read = sealed({1, 3, 0, 7, 0, 1});
    const Bytes write = sealed({2, 16, 0, 1, 0, 1, 2, 0x12, 0x34});
    const Bytes diagnostics = sealed({1, 8, 0, 0, 0x12, 0x34});
    Bytes broken = read;
    broken.back() ^= 1;
    struct Case {
        const char* name;
        std::vector<Bytes> chunks;
        std::vector<Bytes> whole;  // taken before the line goes quiet
        Bytes after_silence;
        std::optional<Frame> opened;  // the frame after silence, split
    } cases[] = {
        {"a read in one piece", {read}, {read}, {}, std::nullopt},
        {"a read in two pieces",
         {Bytes(read.begin(), read.begin() + 3), Bytes(read.begin() + 3, read.end())},
         {read},
         {},
         std::nullopt},
        {"two requests back to back",
         {[&] {
             Bytes both = read;
             both.insert(both.end(), write.begin(), write.end());
             return both;
         }()},
         {read, write},
         {},
         std::nullopt},
        {"a function the codec does not know",
         {diagnostics},
         {},
         diagnostics,
         Frame{1, {8, 0, 0, 0x12, 0x34}}},
        {"a bad CRC", {broken}, {}, broken, std::nullopt},
    };
    for (const Case& c : cases) {
        RtuFramer framer;
        std::vector<Bytes> whole;
        for (const Bytes& chunk : c.chunks) {
            framer.feed(chunk.data(), chunk.size());
            while (auto frame = framer.take_whole()) whole.push_back(*frame);
        }
        EXPECT_EQ(whole, c.whole) << c.name;
        const Bytes rest = framer.take_all();
        EXPECT_EQ(rest, c.after_silence) << c.name;
        if (rest.empty()) continue;
        const auto opened = open_rtu(rest);
        ASSERT_EQ(opened.has_value(), c.opened.has_value()) << c.name;
        if (opened) {
            EXPECT_EQ(opened->unit, c.opened->unit);
            EXPECT_EQ(opened->pdu, c.opened->pdu);
        }
    }
}

TEST(BenchslaveFraming, MbapFramesAndReplies) {
    struct Case {
        const char* name;
        Bytes buffer;
        MbapStatus status;
        Bytes pdu;
    } cases[] = {
        {"a header in part", {0, 1, 0, 0, 0}, MbapStatus::Partial, {}},
        {"a PDU in part", {0, 1, 0, 0, 0, 6, 1, 3, 0}, MbapStatus::Partial, {}},
        {"whole", {0, 1, 0, 0, 0, 6, 1, 3, 0, 0, 0, 1, 9}, MbapStatus::Whole, {3, 0, 0, 0, 1}},
        {"protocol 1", {0, 1, 0, 1, 0, 6, 1, 3, 0, 0, 0, 1}, MbapStatus::Bad, {}},
        {"no PDU", {0, 1, 0, 0, 0, 1, 1}, MbapStatus::Bad, {}},
        {"too long", {0, 1, 0, 0, 1, 0, 1}, MbapStatus::Bad, {}},
    };
    for (Case c : cases) {
        Frame frame;
        std::uint16_t transaction = 0;
        EXPECT_EQ(take_mbap(c.buffer, frame, transaction), c.status) << c.name;
        if (c.status != MbapStatus::Whole) continue;
        EXPECT_EQ(frame.pdu, c.pdu);
        EXPECT_EQ(transaction, 1);
        EXPECT_EQ(c.buffer, Bytes{9}) << "the next frame's first byte stays";
    }
    const Bytes reply = tcp_reply(Label{1, 0x0102, 0, false}, {3, 2, 0, 5});
    EXPECT_EQ(reply, (Bytes{1, 2, 0, 0, 0, 5, 1, 3, 2, 0, 5}));
    const Bytes corrupt = rtu_reply(Label{1, 0, 0, true}, {3, 2, 0, 5});
    EXPECT_FALSE(reliability::crc_ok(corrupt));
    EXPECT_TRUE(reliability::crc_ok(rtu_reply(Label{1, 0, 0, false}, {3, 2, 0, 5})));
}

}  // namespace
