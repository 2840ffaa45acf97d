// SPDX-License-Identifier: MIT
// Reads and writes against the simulator: values, word order, splitting, line
// settings, broadcast, several ports, TCP.
#include <gtest/gtest.h>

#include <array>
#include <thread>
#include <vector>

#include "benchslave/fault_addresses.h"
#include "open_slave.h"

namespace {

using support::kPort;
using support::OpenSlave;

TEST(RegwireTransfer, SixteenBitValuesAreSignExtended) {
    // The demo pattern holds fixed raw words at 100..107.
    OpenSlave slave({"--pattern", "demo"});
    ASSERT_TRUE(slave.ready()) << slave.why();
    std::array<int32_t, 8> got{};
    ASSERT_EQ(Get_4X_DX(slave.port, 1, 100, 8, got.data()), REGWIRE_OK);
    const std::array<int32_t, 8> want{0, 1, 32767, -32768, -1, -2, 1234, -1234};
    EXPECT_EQ(got, want);
}

TEST(RegwireTransfer, SixteenBitWritesRoundTrip) {
    OpenSlave slave;
    ASSERT_TRUE(slave.ready()) << slave.why();
    std::array<int32_t, 7> values{0, 1, -1, -32768, 32767, 65535, 40000};
    ASSERT_EQ(Set_4X_DX(slave.port, 1, 1000, 7, values.data()), REGWIRE_OK);
    std::array<int32_t, 9> back{};
    ASSERT_EQ(Get_4X_DX(slave.port, 1, 999, 9, back.data()), REGWIRE_OK);
    // Unsigned values come back as the same 16 bits, read signed; neighbours untouched.
    const std::array<int32_t, 9> want{0, 0, 1, -1, -32768, 32767, -1, 40000 - 65536, 0};
    EXPECT_EQ(back, want);
    EXPECT_EQ(slave.process.counter("fc16"), 1);
}

TEST(RegwireTransfer, ThirtyTwoBitValuesPutTheHighWordFirst) {
    OpenSlave slave({"--pattern", "demo"});
    ASSERT_TRUE(slave.ready()) << slave.why();
    // Fixed 32-bit values of the demo pattern at 110..117.
    std::array<int32_t, 4> got{};
    ASSERT_EQ(Get_4X_LDX(slave.port, 1, 110, 4, got.data()), REGWIRE_OK);
    const std::array<int32_t, 4> want{-1, 100000, -100000, 0x12345678};
    EXPECT_EQ(got, want);

    std::array<int32_t, 2> words{};
    ASSERT_EQ(Get_4X_DX(slave.port, 1, 116, 2, words.data()), REGWIRE_OK);
    EXPECT_EQ(words[0], 0x1234);
    EXPECT_EQ(words[1], 0x5678);

    std::array<int32_t, 3> values{-2, INT32_MIN, 0x7FFF8001};
    ASSERT_EQ(Set_4X_LDX(slave.port, 1, 500, 3, values.data()), REGWIRE_OK);
    std::array<int32_t, 6> raw{};
    ASSERT_EQ(Get_4X_DX(slave.port, 1, 500, 6, raw.data()), REGWIRE_OK);
    const std::array<int32_t, 6> raw_want{-1, -2, -32768, 0, 0x7FFF, -32767};
    EXPECT_EQ(raw, raw_want);
    std::array<int32_t, 3> back{};
    ASSERT_EQ(Get_4X_LDX(slave.port, 1, 500, 3, back.data()), REGWIRE_OK);
    EXPECT_EQ(back, values);
}

TEST(RegwireTransfer, LongTransfersAreSplitWithoutSeparatingPairs) {
    OpenSlave slave;
    ASSERT_TRUE(slave.ready()) << slave.why();
    struct Case {
        bool wide;
        bool write;
        int32_t start;
        int32_t count;
        long requests;  // function 03 or 16 requests the call takes
    } cases[] = {
        {true, true, 65536 - 128, 64, 2},   // 122 + 6 registers
        {true, false, 65536 - 128, 64, 2},  // 124 + 4
        {true, true, 3000, 61, 1},         {true, false, 3000, 62, 1},
        {true, false, 3000, 63, 2},        {false, true, 4000, 125, 2},  // 123 + 2
        {false, true, 4000, 123, 1},       {false, false, 4000, 125, 1},
    };
    for (const Case& c : cases) {
        std::vector<int32_t> values(static_cast<std::size_t>(c.count));
        for (std::size_t i = 0; i < values.size(); ++i) {
            const auto k = static_cast<int32_t>(i);
            values[i] =
                c.wide ? (k % 2 == 0 ? -1 - k * 65537 : k * 70001) : (k * 517) % 65536 - 32768;
        }
        const char* key = c.write ? "fc16" : "fc03";
        if (!c.write) {
            auto fn = c.wide ? Set_4X_LDX : Set_4X_DX;
            ASSERT_EQ(fn(slave.port, 1, c.start, c.count, values.data()), REGWIRE_OK);
        }
        const long before = slave.process.counter(key);
        std::vector<int32_t> back(values.size(), 0);
        int32_t rc = 0;
        if (c.write) {
            rc = (c.wide ? Set_4X_LDX : Set_4X_DX)(slave.port, 1, c.start, c.count, values.data());
            ASSERT_EQ(rc, REGWIRE_OK);
            rc = (c.wide ? Get_4X_LDX : Get_4X_DX)(slave.port, 1, c.start, c.count, back.data());
        } else {
            rc = (c.wide ? Get_4X_LDX : Get_4X_DX)(slave.port, 1, c.start, c.count, back.data());
        }
        ASSERT_EQ(rc, REGWIRE_OK) << c.start << " " << c.count;
        EXPECT_EQ(back, values) << "start " << c.start << " count " << c.count;
        EXPECT_EQ(slave.process.counter(key), before + c.requests)
            << key << " for start " << c.start << " count " << c.count;
    }
}

TEST(RegwireTransfer, SpeedReachesTheLineForEveryParity) {
    OpenSlave slave;
    ASSERT_TRUE(slave.ready()) << slave.why();
    const long bauds[] = {4800, 9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600};
    for (int32_t speed = 0; speed <= 8; ++speed) {
        for (int32_t parity = 0; parity <= 2; ++parity) {
            // Opening an open port reopens it with the new settings.
            ASSERT_EQ(OpenPort_Modbus(slave.port, speed, parity), REGWIRE_OK);
            int32_t v = 0;
            ASSERT_EQ(Get_4X_DX(slave.port, 1, 0, 1, &v), REGWIRE_OK) << speed << "/" << parity;
            EXPECT_EQ(slave.process.counter("line_baud"), bauds[speed]) << "speed index " << speed;
            // A pseudo-terminal keeps no parity setting (Linux clears PARENB on a
            // pty), so only the speed can be seen from the simulator's side.
        }
    }
}

TEST(RegwireTransfer, CloseThenUseGivesNotOpen) {
    OpenSlave slave;
    ASSERT_TRUE(slave.ready()) << slave.why();
    ASSERT_EQ(ClosePort_Modbus(slave.port), REGWIRE_OK);
    int32_t v = 3;
    EXPECT_EQ(Get_4X_DX(slave.port, 1, 0, 1, &v), REGWIRE_ENOTOPEN);
    EXPECT_EQ(Set_4X_LDX(slave.port, 1, 0, 1, &v), REGWIRE_ENOTOPEN);
    EXPECT_EQ(ClosePort_Modbus(slave.port), REGWIRE_ENOTOPEN);
    EXPECT_EQ(slave.frames_seen(), 0);
    ASSERT_EQ(OpenPort_Modbus(slave.port, 2, 0), REGWIRE_OK);
    EXPECT_EQ(Get_4X_DX(slave.port, 1, 0, 1, &v), REGWIRE_OK);
}

TEST(RegwireTransfer, BroadcastWritesReachTheSlaveWithoutAReply) {
    OpenSlave slave({"--station", "7"});
    ASSERT_TRUE(slave.ready()) << slave.why();
    std::array<int32_t, 2> v16{-5, 6};
    std::array<int32_t, 1> v32{-70000};
    EXPECT_EQ(Set_4X_DX(slave.port, 0, 20, 2, v16.data()), REGWIRE_OK);
    EXPECT_EQ(Set_4X_LDX(slave.port, 0, 22, 1, v32.data()), REGWIRE_OK);
    std::array<int32_t, 2> back16{};
    std::array<int32_t, 1> back32{};
    ASSERT_EQ(Get_4X_DX(slave.port, 7, 20, 2, back16.data()), REGWIRE_OK);
    ASSERT_EQ(Get_4X_LDX(slave.port, 7, 22, 1, back32.data()), REGWIRE_OK);
    EXPECT_EQ(back16, v16);
    EXPECT_EQ(back32, v32);
    const auto c = slave.process.counters();
    EXPECT_EQ(c.at("broadcasts"), 2);
    EXPECT_EQ(c.at("requests"), 2);
    EXPECT_EQ(c.at("replies"), 2);
}

TEST(RegwireTransfer, OtherStationsDoNotAnswerAndTheNextRequestIsServed) {
    OpenSlave slave({"--station", "3"});
    ASSERT_TRUE(slave.ready()) << slave.why();
    int32_t v = 99;
    EXPECT_EQ(Get_4X_DX(slave.port, 4, 0, 1, &v), REGWIRE_ETIMEOUT);
    EXPECT_EQ(v, 99);
    EXPECT_EQ(Get_4X_DX(slave.port, 3, 0, 1, &v), REGWIRE_OK);
    EXPECT_EQ(v, 0);
    EXPECT_EQ(slave.process.counter("ignored"), 1);
}

TEST(RegwireTransfer, SeveralPortsAtOnceAndExclusiveLines) {
    OpenSlave a({}, 6);
    OpenSlave b({}, 7);
    ASSERT_TRUE(a.ready()) << a.why();
    ASSERT_TRUE(b.ready()) << b.why();

    // A second port on the same line is refused while the first holds it.
    support::ScopedEnv same("REGWIRE_PORT8", a.process.address().c_str());
    EXPECT_EQ(OpenPort_Modbus(8, 2, 0), REGWIRE_EOPEN);

    // Two threads, one per port, interleaving freely.
    auto worker = [](int port, int32_t base, int* failures) {
        for (int32_t i = 0; i < 40; ++i) {
            int32_t w = base + i;
            int32_t r = 0;
            if (Set_4X_DX(port, 1, 10, 1, &w) != REGWIRE_OK ||
                Get_4X_DX(port, 1, 10, 1, &r) != REGWIRE_OK || r != w) {
                ++*failures;
            }
        }
    };
    int fa = 0;
    int fb = 0;
    std::thread ta(worker, 6, 1000, &fa);
    std::thread tb(worker, 7, 2000, &fb);
    ta.join();
    tb.join();
    EXPECT_EQ(fa, 0);
    EXPECT_EQ(fb, 0);
    int32_t last_a = 0;
    int32_t last_b = 0;
    ASSERT_EQ(Get_4X_DX(6, 1, 10, 1, &last_a), REGWIRE_OK);
    ASSERT_EQ(Get_4X_DX(7, 1, 10, 1, &last_b), REGWIRE_OK);
    EXPECT_EQ(last_a, 1039);
    EXPECT_EQ(last_b, 2039);
}

TEST(RegwireTransfer, TcpPortsSpeakModbusTcpWithTheStationAsUnit) {
    OpenSlave slave({"--tcp", "0", "--station", "9"});
    ASSERT_TRUE(slave.ready()) << slave.why();
    EXPECT_EQ(slave.process.address().rfind("tcp:127.0.0.1:", 0), 0u) << slave.process.address();

    std::array<int32_t, 3> v16{-1, 2, 65535};
    std::array<int32_t, 2> v32{-123456789, 987654321};
    ASSERT_EQ(Set_4X_DX(slave.port, 9, 40, 3, v16.data()), REGWIRE_OK);
    ASSERT_EQ(Set_4X_LDX(slave.port, 9, 50, 2, v32.data()), REGWIRE_OK);
    std::array<int32_t, 3> b16{};
    std::array<int32_t, 2> b32{};
    ASSERT_EQ(Get_4X_DX(slave.port, 9, 40, 3, b16.data()), REGWIRE_OK);
    ASSERT_EQ(Get_4X_LDX(slave.port, 9, 50, 2, b32.data()), REGWIRE_OK);
    EXPECT_EQ(b16, (std::array<int32_t, 3>{-1, 2, -1}));
    EXPECT_EQ(b32, v32);

    // Another unit id is not answered; an exception is reported as such.
    int32_t v = 5;
    EXPECT_EQ(Get_4X_DX(slave.port, 8, 40, 1, &v), REGWIRE_ETIMEOUT);
    EXPECT_EQ(Get_4X_DX(slave.port, 9, benchslave::kMagicException, 1, &v),
              REGWIRE_EXCEPTION_BASE - benchslave::kMagicExceptionCode);
    EXPECT_EQ(v, 5);
    EXPECT_EQ(Get_4X_DX(slave.port, 9, 41, 1, &v), REGWIRE_OK);
    EXPECT_EQ(v, 2);
    // Speed and parity are still checked for TCP.
    EXPECT_EQ(OpenPort_Modbus(slave.port, 9, 0), REGWIRE_EBADARG);
}

TEST(RegwireTransfer, TcpRepliesCountOnlyWhenEverythingMatches) {
    struct Case {
        const char* fault;  // every request gets it
        bool write;
        const char* counter;
    } cases[] = {
        {"--wrong-unit-every", false, "faults_wrong_unit"},
        {"--wrong-unit-every", true, "faults_wrong_unit"},
        {"--wrong-protocol-every", false, "faults_wrong_protocol"},
        {"--wrong-echo-every", true, "faults_wrong_echo"},
    };
    for (const Case& c : cases) {
        OpenSlave slave({"--tcp", "0", "--pattern", "demo", c.fault, "1"});
        ASSERT_TRUE(slave.ready()) << slave.why();
        int32_t v = 4321;
        const int32_t rc =
            c.write ? Set_4X_DX(slave.port, 1, 300, 1, &v) : Get_4X_DX(slave.port, 1, 106, 1, &v);
        EXPECT_EQ(rc, REGWIRE_ECRC) << c.fault << (c.write ? " write" : " read");
        EXPECT_EQ(v, 4321);
        EXPECT_EQ(slave.process.counter(c.counter), 1) << c.counter;
    }
}

TEST(RegwireTransfer, TcpLateReplyIsSkippedByTheCallsAfterIt) {
    // The delay register is answered 1.5 s late, well past the timeout; later
    // requests at once.
    OpenSlave slave({"--tcp", "0", "--pattern", "demo", "--delay-ms", "1500"});
    ASSERT_TRUE(slave.ready()) << slave.why();
    int32_t v = 0;
    ASSERT_EQ(Get_4X_DX(slave.port, 1, benchslave::kMagicDelay, 1, &v), REGWIRE_ETIMEOUT);
    int failed = 0;
    for (int i = 0; i < 1000; ++i) {
        v = 0;
        if (Get_4X_DX(slave.port, 1, 106, 1, &v) != REGWIRE_OK || v != 1234) ++failed;
    }
    EXPECT_EQ(failed, 0);
}

}  // namespace
