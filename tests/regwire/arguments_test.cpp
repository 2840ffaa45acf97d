// SPDX-License-Identifier: MIT
// Argument checks: what each function refuses, and that a refused call sends
// nothing and leaves the caller's buffer alone.
#include <gtest/gtest.h>

#include <array>
#include <set>
#include <string>

#include "open_slave.h"

namespace {

using support::kPort;
using support::OpenSlave;

enum class Fn { Get16, Set16, Get32, Set32 };

const char* name(Fn f) {
    switch (f) {
        case Fn::Get16:
            return "Get_4X_DX";
        case Fn::Set16:
            return "Set_4X_DX";
        case Fn::Get32:
            return "Get_4X_LDX";
        case Fn::Set32:
            return "Set_4X_LDX";
    }
    return "?";
}

int32_t call(Fn f, int32_t port, int32_t station, int32_t start, int32_t count, int32_t* buf) {
    switch (f) {
        case Fn::Get16:
            return Get_4X_DX(port, station, start, count, buf);
        case Fn::Set16:
            return Set_4X_DX(port, station, start, count, buf);
        case Fn::Get32:
            return Get_4X_LDX(port, station, start, count, buf);
        case Fn::Set32:
            return Set_4X_LDX(port, station, start, count, buf);
    }
    return 0;
}

struct BadCall {
    Fn fn;
    int32_t port;
    int32_t station;
    int32_t start;
    int32_t count;
    bool null_buffer;
    int32_t expected;
};

TEST(RegwireArguments, RefusedCallsSendNothingAndKeepTheBuffer) {
    OpenSlave slave;
    ASSERT_TRUE(slave.ready()) << slave.why();

    const BadCall cases[] = {
        // count limits
        {Fn::Get16, kPort, 1, 0, 0, false, REGWIRE_EBADARG},
        {Fn::Get16, kPort, 1, 0, 126, false, REGWIRE_EBADARG},
        {Fn::Get16, kPort, 1, 0, -1, false, REGWIRE_EBADARG},
        {Fn::Set16, kPort, 1, 0, 0, false, REGWIRE_EBADARG},
        {Fn::Set16, kPort, 1, 0, 126, false, REGWIRE_EBADARG},
        {Fn::Get32, kPort, 1, 0, 0, false, REGWIRE_EBADARG},
        {Fn::Get32, kPort, 1, 0, 65, false, REGWIRE_EBADARG},
        {Fn::Set32, kPort, 1, 0, 0, false, REGWIRE_EBADARG},
        {Fn::Set32, kPort, 1, 0, 65, false, REGWIRE_EBADARG},
        // stations: broadcast is for writes only
        {Fn::Get16, kPort, 0, 0, 1, false, REGWIRE_EBADARG},
        {Fn::Get32, kPort, 0, 0, 1, false, REGWIRE_EBADARG},
        {Fn::Get16, kPort, 248, 0, 1, false, REGWIRE_EBADARG},
        {Fn::Set16, kPort, 248, 0, 1, false, REGWIRE_EBADARG},
        {Fn::Set32, kPort, -1, 0, 1, false, REGWIRE_EBADARG},
        // addresses
        {Fn::Get16, kPort, 1, -1, 1, false, REGWIRE_EBADARG},
        {Fn::Get16, kPort, 1, 65536, 1, false, REGWIRE_EBADARG},
        {Fn::Get16, kPort, 1, 65535, 2, false, REGWIRE_EBADARG},
        {Fn::Set16, kPort, 1, 65500, 37, false, REGWIRE_EBADARG},
        {Fn::Get32, kPort, 1, 65535, 1, false, REGWIRE_EBADARG},
        {Fn::Set32, kPort, 1, 65536 - 127, 64, false, REGWIRE_EBADARG},
        // buffers and ports
        {Fn::Get16, kPort, 1, 0, 1, true, REGWIRE_EBADARG},
        {Fn::Set32, kPort, 1, 0, 1, true, REGWIRE_EBADARG},
        {Fn::Get16, 0, 1, 0, 1, false, REGWIRE_EBADARG},
        {Fn::Set16, -3, 1, 0, 1, false, REGWIRE_EBADARG},
        {Fn::Get32, kPort + 1, 1, 0, 1, false, REGWIRE_ENOTOPEN},
        {Fn::Set32, kPort + 1, 1, 0, 1, false, REGWIRE_ENOTOPEN},
    };

    const long frames_before = slave.frames_seen();
    for (const BadCall& c : cases) {
        std::array<int32_t, 130> buf;
        buf.fill(0x5A5A5A5A);
        const int32_t rc =
            call(c.fn, c.port, c.station, c.start, c.count, c.null_buffer ? nullptr : buf.data());
        EXPECT_EQ(rc, c.expected) << name(c.fn) << " port " << c.port << " station " << c.station
                                  << " start " << c.start << " count " << c.count;
        for (int32_t v : buf) ASSERT_EQ(v, 0x5A5A5A5A) << name(c.fn) << " touched the buffer";
    }

    // A good call afterwards is the only request the simulator has seen, and it is
    // answered: no refused call left a partial frame on the line.
    int32_t value = 0;
    ASSERT_EQ(Get_4X_DX(slave.port, 1, 10, 1, &value), REGWIRE_OK);
    EXPECT_EQ(slave.frames_seen(), frames_before + 1);
}

TEST(RegwireArguments, ValuesOutsideSixteenBitsAreRefusedWhole) {
    OpenSlave slave;
    ASSERT_TRUE(slave.ready()) << slave.why();
    std::array<int32_t, 3> seed{11, 22, 33};
    ASSERT_EQ(Set_4X_DX(slave.port, 1, 200, 3, seed.data()), REGWIRE_OK);

    const std::vector<std::vector<int32_t>> refused = {{65536},         {-32769},    {1, 2, 70000},
                                                       {-100000, 5, 6}, {INT32_MIN}, {INT32_MAX}};
    const long frames_before = slave.frames_seen();
    for (auto values : refused) {
        const auto copy = values;
        EXPECT_EQ(Set_4X_DX(slave.port, 1, 200, static_cast<int32_t>(values.size()), values.data()),
                  REGWIRE_ERANGE);
        EXPECT_EQ(values, copy) << "the write buffer is only read";
    }
    EXPECT_EQ(slave.frames_seen(), frames_before);

    // The edges themselves are accepted, and nothing of the refused calls landed.
    std::array<int32_t, 3> edges{-32768, 65535, 0};
    ASSERT_EQ(Set_4X_DX(slave.port, 1, 300, 3, edges.data()), REGWIRE_OK);
    std::array<int32_t, 3> back{};
    ASSERT_EQ(Get_4X_DX(slave.port, 1, 200, 3, back.data()), REGWIRE_OK);
    EXPECT_EQ(back, seed);
}

TEST(RegwireArguments, OpenRefusesBadSettingsWithoutTouchingThePort) {
    OpenSlave slave;
    ASSERT_TRUE(slave.ready()) << slave.why();
    struct Case {
        int32_t port, speed, parity;
    } cases[] = {{0, 2, 0},     {-1, 2, 0},     {kPort, 9, 0},    {kPort, -1, 0},
                 {kPort, 2, 3}, {kPort, 2, -1}, {kPort, 100, 100}};
    for (const Case& c : cases) {
        EXPECT_EQ(OpenPort_Modbus(c.port, c.speed, c.parity), REGWIRE_EBADARG)
            << c.port << " " << c.speed << " " << c.parity;
    }
    // The open port was left as it was.
    int32_t v = 0;
    EXPECT_EQ(Get_4X_DX(slave.port, 1, 0, 1, &v), REGWIRE_OK);
    EXPECT_EQ(slave.process.counter("line_baud"), 19200);
    EXPECT_EQ(slave.process.counter("requests"), 1);
}

TEST(RegwireArguments, CloseAndUseOfPortsNotOpen) {
    EXPECT_EQ(ClosePort_Modbus(0), REGWIRE_EBADARG);
    EXPECT_EQ(ClosePort_Modbus(40), REGWIRE_ENOTOPEN);
    support::ScopedEnv env("REGWIRE_PORT41", "/nonexistent/regwire-device");
    EXPECT_EQ(OpenPort_Modbus(41, 2, 0), REGWIRE_EOPEN);
    int32_t v = 7;
    EXPECT_EQ(Get_4X_DX(41, 1, 0, 1, &v), REGWIRE_ENOTOPEN);
    EXPECT_EQ(v, 7);
    EXPECT_EQ(ClosePort_Modbus(41), REGWIRE_ENOTOPEN);

    for (const char* bad : {"tcp:", "tcp:127.0.0.1", "tcp:127.0.0.1:", "tcp::502",
                            "tcp:127.0.0.1:99999", "tcp:127.0.0.1:50x"}) {
        support::ScopedEnv tcp("REGWIRE_PORT42", bad);
        EXPECT_EQ(OpenPort_Modbus(42, 2, 0), REGWIRE_EOPEN) << bad;
    }
}

TEST(RegwireArguments, EveryResultHasItsOwnText) {
    const int32_t codes[] = {REGWIRE_OK,     REGWIRE_EBADARG,  REGWIRE_ENOTOPEN,
                             REGWIRE_EOPEN,  REGWIRE_ETIMEOUT, REGWIRE_ECRC,
                             REGWIRE_ERANGE, REGWIRE_ELOST,    REGWIRE_EIO};
    std::set<std::string> texts;
    for (int32_t c : codes) {
        const char* t = Regwire_strerror(c);
        ASSERT_NE(t, nullptr);
        EXPECT_GT(std::string(t).size(), 3u);
        texts.insert(t);
    }
    EXPECT_EQ(texts.size(), std::size(codes));

    struct Exception {
        int code;
        const char* contains;
    } exceptions[] = {{1, "illegal function"},
                      {2, "illegal data address"},
                      {4, "slave device failure"},
                      {11, "gateway target"},
                      {200, "200"}};
    for (const auto& e : exceptions) {
        const int32_t r = REGWIRE_EXCEPTION_BASE - e.code;
        ASSERT_TRUE(REGWIRE_IS_EXCEPTION(r));
        const std::string t = Regwire_strerror(r);
        EXPECT_NE(t.find(e.contains), std::string::npos) << t;
        EXPECT_NE(t.find(std::to_string(e.code)), std::string::npos) << t;
    }
    for (int32_t unknown : {-9, -50, 1, 12345, INT32_MIN, REGWIRE_EXCEPTION_BASE}) {
        ASSERT_NE(Regwire_strerror(unknown), nullptr);
    }
}

}  // namespace
