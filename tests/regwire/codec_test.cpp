// SPDX-License-Identifier: MIT
// The Modbus codec on byte vectors, and the rule of which requests may still be
// answered: no line, no library, milliseconds.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <string>

#include "awaiting.h"
#include "pdu.h"

namespace {

using regwire::pdu::Bytes;
using regwire::pdu::Verdict;
namespace pdu = regwire::pdu;

// An oracle of our own: frames whose CRC the protocol's documents give.
TEST(Codec, CrcOfKnownFrames) {
    struct Row {
        Bytes frame;
        Bytes crc;
    } rows[] = {
        {{0x01, 0x03, 0x00, 0x00, 0x00, 0x0A}, {0xC5, 0xCD}},
        {{0x11, 0x03, 0x00, 0x6B, 0x00, 0x03}, {0x76, 0x87}},
        {{0x01, 0x06, 0x00, 0x01, 0x00, 0x03}, {0x98, 0x0B}},
    };
    for (const Row& r : rows) {
        Bytes sealed = r.frame;
        pdu::seal(sealed);
        EXPECT_EQ(Bytes(sealed.end() - 2, sealed.end()), r.crc);
        EXPECT_TRUE(pdu::sealed(sealed.data(), sealed.size()));
        sealed[1] ^= 0x01;
        EXPECT_FALSE(pdu::sealed(sealed.data(), sealed.size()));
    }
    EXPECT_FALSE(pdu::sealed(nullptr, 0));
}

TEST(Codec, EncodesEachFunction) {
    const std::array<uint16_t, 2> values{0x1234, 0xFFFF};
    EXPECT_EQ(pdu::encode({pdu::kReadHolding, 0x006B, 3, nullptr}),
              (Bytes{0x03, 0x00, 0x6B, 0x00, 0x03}));
    EXPECT_EQ(pdu::encode({pdu::kWriteMultiple, 0x0100, 2, values.data()}),
              (Bytes{0x10, 0x01, 0x00, 0x00, 0x02, 0x04, 0x12, 0x34, 0xFF, 0xFF}));
    EXPECT_EQ(pdu::encode({pdu::kWriteSingle, 0x0001, 1, values.data()}),
              (Bytes{0x06, 0x00, 0x01, 0x12, 0x34}));
}

// Replies to a read of 2 registers, a write of 2 and a single write, judged.
TEST(Codec, DecodesRepliesAgainstTheirRequest) {
    const std::array<uint16_t, 2> written{7, 8};
    const pdu::Request read{pdu::kReadHolding, 10, 2, nullptr};
    const pdu::Request write{pdu::kWriteMultiple, 10, 2, written.data()};
    const pdu::Request single{pdu::kWriteSingle, 10, 1, written.data()};
    struct Row {
        const char* what;
        pdu::Request request;
        Bytes reply;
        Verdict verdict;
        int exception = 0;
    } rows[] = {
        {"values", read, {0x03, 0x04, 0x00, 0x01, 0xFF, 0xFE}, Verdict::Values},
        {"a byte count that lies low", read, {0x03, 0x03, 0x00, 0x01, 0xFF}, Verdict::Malformed},
        {"a byte count of another read", read, {0x03, 0x06, 0, 1, 0, 2, 0, 3}, Verdict::Malformed},
        {"shorter than its byte count", read, {0x03, 0x04, 0x00, 0x01, 0xFF}, Verdict::Malformed},
        {"longer than its byte count", read, {0x03, 0x04, 0, 1, 0, 2, 0}, Verdict::Malformed},
        {"no byte count", read, {0x03}, Verdict::Malformed},
        {"another function", read, {0x04, 0x04, 0, 1, 0, 2}, Verdict::Malformed},
        {"an exception", read, {0x83, 0x02}, Verdict::Exception, 2},
        {"an exception of another function", read, {0x90, 0x02}, Verdict::Malformed},
        {"an exception with a byte too many", read, {0x83, 0x02, 0x00}, Verdict::Malformed},
        {"the echo", write, {0x10, 0x00, 0x0A, 0x00, 0x02}, Verdict::Echo},
        {"an echo of another address", write, {0x10, 0x00, 0x0B, 0x00, 0x02}, Verdict::Malformed},
        {"an echo of another quantity", write, {0x10, 0x00, 0x0A, 0x00, 0x01}, Verdict::Malformed},
        {"a short echo", write, {0x10, 0x00, 0x0A, 0x00}, Verdict::Malformed},
        {"a single write's echo", single, {0x06, 0x00, 0x0A, 0x00, 0x07}, Verdict::Echo},
        {"an echo of another value", single, {0x06, 0x00, 0x0A, 0x00, 0x08}, Verdict::Malformed},
        {"an empty reply", read, {}, Verdict::Malformed},
    };
    for (const Row& r : rows) {
        std::array<uint16_t, 2> dest{0xAAAA, 0xAAAA};
        const pdu::Reply got = pdu::decode(r.request, r.reply.data(), r.reply.size(), dest.data());
        EXPECT_EQ(got.verdict, r.verdict) << r.what;
        EXPECT_EQ(got.exception, r.exception) << r.what;
        EXPECT_EQ(got.verdict == Verdict::Malformed, got.problem != nullptr) << r.what;
        const std::array<uint16_t, 2> want = r.verdict == Verdict::Values
                                                 ? std::array<uint16_t, 2>{1, 0xFFFE}
                                                 : std::array<uint16_t, 2>{0xAAAA, 0xAAAA};
        EXPECT_EQ(dest, want) << r.what;
    }
}

// Every code but 0 is an exception, named or not; code 0 is no exception.
TEST(Codec, ExceptionCodesZeroTo255) {
    const pdu::Request read{pdu::kReadHolding, 0, 1, nullptr};
    const pdu::Shape shape = pdu::shape_of(1, read);
    for (int code = 0; code <= 255; ++code) {
        const Bytes reply{0x83, static_cast<uint8_t>(code)};
        uint16_t dest = 0;
        const pdu::Reply got = pdu::decode(read, reply.data(), reply.size(), &dest);
        EXPECT_EQ(got.verdict, code == 0 ? Verdict::Malformed : Verdict::Exception) << code;
        EXPECT_EQ(got.exception, code == 0 ? 0 : code);
        EXPECT_EQ(pdu::fits(shape, reply.data(), reply.size()), code != 0) << code;
    }
}

// Two requests can be told apart by their replies only when their shapes differ.
TEST(Codec, ShapesTellWhichRequestsAReplyCouldAnswer) {
    const std::array<uint16_t, 1> v{5};
    const pdu::Request read8{pdu::kReadHolding, 100, 8, nullptr};
    const pdu::Request read8_elsewhere{pdu::kReadHolding, 200, 8, nullptr};
    const pdu::Request read9{pdu::kReadHolding, 100, 9, nullptr};
    const pdu::Request write{pdu::kWriteMultiple, 100, 1, v.data()};
    const pdu::Request write_elsewhere{pdu::kWriteMultiple, 101, 1, v.data()};
    EXPECT_EQ(pdu::shape_of(1, read8), pdu::shape_of(1, read8_elsewhere));
    EXPECT_FALSE(pdu::shape_of(1, read8) == pdu::shape_of(1, read9));
    EXPECT_FALSE(pdu::shape_of(1, read8) == pdu::shape_of(2, read8));
    EXPECT_FALSE(pdu::shape_of(1, write) == pdu::shape_of(1, write_elsewhere));
    const Bytes values8{0x03, 16, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const Bytes echo{0x10, 0x00, 0x64, 0x00, 0x01};
    EXPECT_TRUE(pdu::fits(pdu::shape_of(1, read8_elsewhere), values8.data(), values8.size()));
    EXPECT_FALSE(pdu::fits(pdu::shape_of(1, read9), values8.data(), values8.size()));
    EXPECT_TRUE(pdu::fits(pdu::shape_of(1, write), echo.data(), echo.size()));
    EXPECT_FALSE(pdu::fits(pdu::shape_of(1, write_elsewhere), echo.data(), echo.size()));
    EXPECT_FALSE(pdu::fits(pdu::shape_of(1, read8), echo.data(), echo.size()));
}

TEST(Codec, LengthsOnceKnown) {
    struct Row {
        Bytes start;
        std::size_t reply;
        std::size_t request;
    } rows[] = {
        {{0x03}, 0, 5},
        {{0x03, 0x04}, 6, 5},
        {{0x06}, 5, 5},
        {{0x10}, 5, 0},
        {{0x10, 0, 1, 0, 2, 4}, 5, 10},
        {{0x83}, 2, 0},
        {{0x90}, 2, 0},
        {{0x04}, 0, 0},
        {{}, 0, 0},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(pdu::reply_length(r.start.data(), r.start.size()), r.reply);
        EXPECT_EQ(pdu::request_length(r.start.data(), r.start.size()), r.request);
    }
}

// The slave's side: what it serves, and the exception for what it does not.
TEST(Codec, ParsesRequestsAsASlaveMust) {
    struct Row {
        const char* what;
        Bytes request;
        uint8_t exception;
        int count;
    } rows[] = {
        {"a read", {0x03, 0x00, 0x0A, 0x00, 0x7D}, 0, 125},
        {"a read of none", {0x03, 0x00, 0x0A, 0x00, 0x00}, 3, 0},
        {"a read of 126", {0x03, 0x00, 0x0A, 0x00, 0x7E}, 3, 126},
        {"a single write", {0x06, 0x00, 0x0A, 0x12, 0x34}, 0, 1},
        {"a write", {0x10, 0x00, 0x0A, 0x00, 0x01, 0x02, 0xAB, 0xCD}, 0, 1},
        {"a byte count that lies", {0x10, 0x00, 0x0A, 0x00, 0x02, 0x02, 0xAB, 0xCD}, 3, 2},
        {"a write of 124", {0x10, 0x00, 0x0A, 0x00, 0x7C, 0xF8}, 3, 0},
        {"a short read", {0x03, 0x00, 0x0A, 0x00}, 3, 0},
        {"function 01", {0x01, 0x00, 0x00, 0x00, 0x08}, 1, 0},
        {"function 04", {0x04, 0x00, 0x00, 0x00, 0x01}, 1, 0},
        {"function 08", {0x08, 0x00, 0x00, 0x12, 0x34}, 1, 0},
        {"function 2B", {0x2B, 0x0E, 0x01, 0x00}, 1, 0},
        {"function 17", {0x17, 0, 0, 0, 1, 0, 0, 0, 1, 2, 0, 5}, 1, 0},
        {"nothing", {}, 3, 0},
    };
    for (const Row& r : rows) {
        const pdu::Parsed p = pdu::parse_request(r.request.data(), r.request.size());
        EXPECT_EQ(p.exception, r.exception) << r.what;
        if (p.exception == 0) {
            EXPECT_EQ(p.count, r.count) << r.what;
            EXPECT_EQ(p.start, 10) << r.what;
        }
    }
    const std::array<uint16_t, 2> values{1, 0xFFFE};
    EXPECT_EQ(pdu::read_reply(values.data(), 2), (Bytes{0x03, 0x04, 0x00, 0x01, 0xFF, 0xFE}));
    EXPECT_EQ(pdu::write_echo(0x10, 10, 2), (Bytes{0x10, 0x00, 0x0A, 0x00, 0x02}));
    EXPECT_EQ(pdu::exception_reply(0x2B, 1), (Bytes{0xAB, 0x01}));
}

// A read of 8 registers sent at 0 ms, answered at 10 ms, which may be answered
// until 1000 ms and whose repeat is expected within 50 ms of its answer.
TEST(Awaiting, ATakenReplyComesAgainAsLateAsAnyReplyOnceTheLineRepeats) {
    using std::chrono::milliseconds;
    const regwire::Awaiting::Clock::time_point t0{};
    const pdu::Request read8{pdu::kReadHolding, 100, 8, nullptr};
    const pdu::Shape shape = pdu::shape_of(1, read8);
    const std::array<uint16_t, 8> values{1, 2, 3, 4, 5, 6, 7, 8};
    const Bytes reply = pdu::read_reply(values.data(), 8);
    struct Row {
        bool repeats;
        bool avoid_recent;
        int at_ms;
        int in_use_until_ms;  // -1: free
    } rows[] = {
        {false, true, 30, 60},    // a read avoids a shape answered a moment ago
        {false, true, 70, -1},    // but not after the repeat window
        {false, false, 30, -1},   // and it does not block a request
        {true, false, 30, 1000},  // on a repeating line: until the horizon
        {true, true, 900, 1000},  //
        {true, false, 1000, -1},  //
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.at_ms);
        regwire::Awaiting awaiting;
        awaiting.add(shape, t0, t0 + milliseconds(1000), milliseconds(50));
        awaiting.answer_newest(t0 + milliseconds(10), reply.data(), reply.size());
        if (row.repeats) awaiting.repeats_heard();
        const auto until =
            awaiting.in_use_until(shape, row.avoid_recent, t0 + milliseconds(row.at_ms));
        if (row.in_use_until_ms < 0) {
            EXPECT_FALSE(until.has_value());
        } else {
            ASSERT_TRUE(until.has_value());
            EXPECT_EQ(*until, t0 + milliseconds(row.in_use_until_ms));
        }
    }
    // A copy heard long after the window is still told as a repeat, not a reply.
    regwire::Awaiting awaiting;
    awaiting.add(shape, t0, t0 + milliseconds(1000), milliseconds(50));
    awaiting.answer_newest(t0 + milliseconds(10), reply.data(), reply.size());
    awaiting.expire(t0 + milliseconds(900));
    bool repeat = false;
    EXPECT_FALSE(awaiting.answer_earlier(1, reply.data(), reply.size(), t0 + milliseconds(900),
                                         false, repeat));
    EXPECT_TRUE(repeat);
    awaiting.expire(t0 + milliseconds(1000));
    EXPECT_EQ(awaiting.size(), 0u);
}

}  // namespace
