// SPDX-License-Identifier: MIT
// Regwire_lastfailure: the detail of a port's last failure, copied safely into
// any buffer, naming the device and the reason a result code cannot give.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "benchslave/fault_addresses.h"
#include "open_slave.h"

namespace {

using support::OpenSlave;
using support::ScopedEnv;

constexpr char kGuard = '#';

std::string detail(int32_t port) {
    std::array<char, 512> text{};
    const int32_t length =
        Regwire_lastfailure(port, text.data(), static_cast<int32_t>(text.size()));
    EXPECT_LT(length, static_cast<int32_t>(text.size()));
    EXPECT_EQ(static_cast<std::size_t>(length), std::strlen(text.data()));
    return text.data();
}

TEST(RegwireFailureDetail, CopiesIntoAnyBufferWithoutWritingPastIt) {
    ScopedEnv env("REGWIRE_PORT43", "/nonexistent/regwire-device");
    ASSERT_EQ(OpenPort_Modbus(43, 2, 0), REGWIRE_EOPEN);
    const std::string full = detail(43);
    const auto length = static_cast<int32_t>(full.size());
    ASSERT_GT(length, 10);

    struct Case {
        int32_t port;
        int32_t size;  // what the caller says its buffer holds
        bool null_text;
        const char* expected;  // what it then holds; null: untouched
        int32_t returned;
    } cases[] = {
        {43, 0, false, nullptr, length}, {43, -5, false, nullptr, length},
        {43, 64, true, nullptr, length}, {43, 1, false, "", length},
        {43, 5, false, "port", length},  {9999, 16, false, "", 0},  // a port never used
        {INT32_MIN, 16, false, "", 0},
    };
    for (const Case& c : cases) {
        std::array<char, 80> text;
        text.fill(kGuard);
        const int32_t n = Regwire_lastfailure(c.port, c.null_text ? nullptr : text.data(), c.size);
        EXPECT_EQ(n, c.returned) << "port " << c.port << " size " << c.size;
        const std::size_t written = c.expected == nullptr ? 0 : std::strlen(c.expected) + 1;
        if (c.expected != nullptr) {
            EXPECT_STREQ(text.data(), c.expected);
        }
        for (std::size_t i = written; i < text.size(); ++i) {
            ASSERT_EQ(text[i], kGuard) << "byte " << i << " written, size " << c.size;
        }
    }
    // Room for the whole text, exactly.
    std::string exact(full.size() + 1, kGuard);
    EXPECT_EQ(Regwire_lastfailure(43, exact.data(), length + 1), length);
    EXPECT_EQ(exact.c_str(), full);
}

TEST(RegwireFailureDetail, AFailedOpenNamesTheDeviceAndTheSystemsReason) {
    struct Case {
        const char* device;
        std::string reason;
    } cases[] = {
        {"/nonexistent/regwire-device", std::strerror(ENOENT)},
        {"/", std::strerror(EISDIR)},
        {"tcp:127.0.0.1", "tcp:HOST:PORT"},
    };
    for (const Case& c : cases) {
        ScopedEnv env("REGWIRE_PORT44", c.device);
        ScopedEnv trace("REGWIRE_TRACE", "1");
        testing::internal::CaptureStderr();
        EXPECT_EQ(OpenPort_Modbus(44, 2, 0), REGWIRE_EOPEN) << c.device;
        const std::string traced = testing::internal::GetCapturedStderr();
        const std::string text = detail(44);
        EXPECT_NE(text.find(std::string("port 44 (") + c.device + ")"), std::string::npos) << text;
        EXPECT_NE(text.find(c.reason), std::string::npos) << text;
        // The trace prints the failed open with the same words.
        EXPECT_NE(traced.find(text), std::string::npos) << traced;
    }
}

TEST(RegwireFailureDetail, AFailedOpenNamesTheMapLineOfItsDeviceAndTheLinesIgnored) {
    char config[] = "/tmp/regwire-config-XXXXXX";
    ASSERT_NE(mkdtemp(config), nullptr);
    const std::string dir = std::string(config) + "/regwire";
    ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
    const std::string file = dir + "/ports.conf";
    std::FILE* out = std::fopen(file.c_str(), "w");
    ASSERT_NE(out, nullptr);
    std::fputs("# bench adapter\n45 = /nonexistent/mapped-device\n45 /dev/ttyUSB9\n", out);
    std::fclose(out);
    {
        ScopedEnv home("XDG_CONFIG_HOME", config);
        EXPECT_EQ(OpenPort_Modbus(45, 2, 0), REGWIRE_EOPEN);
    }
    const std::string text = detail(45);
    EXPECT_NE(text.find("port 45 (/nonexistent/mapped-device)"), std::string::npos) << text;
    EXPECT_NE(text.find("user file " + file + ":2"), std::string::npos) << text;
    EXPECT_NE(text.find(file + ":3"), std::string::npos) << text;
    std::remove(file.c_str());
    rmdir(dir.c_str());
    rmdir(config);
}

TEST(RegwireFailureDetail, TransfersSayWhatHappenedAndWhere) {
    OpenSlave slave({"--bad-crc-every", "2"});
    ASSERT_TRUE(slave.ready()) << slave.why();
    std::array<int32_t, 64> buf{};
    // A split read whose second request fails.
    ASSERT_EQ(Get_4X_LDX(slave.port, 1, 0, 64, buf.data()), REGWIRE_ECRC);
    std::string text = detail(slave.port);
    EXPECT_NE(text.find("station 1, reading registers 0..127"), std::string::npos) << text;
    EXPECT_NE(text.find("(request 2 of 2)"), std::string::npos) << text;
    EXPECT_NE(text.find("/dev/"), std::string::npos) << text;

    // A success leaves the last failure's detail as it was.
    ASSERT_EQ(Get_4X_DX(slave.port, 1, 0, 1, buf.data()), REGWIRE_OK);
    EXPECT_EQ(detail(slave.port), text);

    // A magic register the slave never answers: the timeout with its length.
    ASSERT_EQ(Set_4X_DX(slave.port, 3, benchslave::kMagicNoReply, 1, buf.data()), REGWIRE_ETIMEOUT);
    text = detail(slave.port);
    EXPECT_NE(text.find("station 3, writing registers 60001..60001: no reply within"),
              std::string::npos)
        << text;

    buf[1] = 70000;
    ASSERT_EQ(Set_4X_DX(slave.port, 1, 0, 2, buf.data()), REGWIRE_ERANGE);
    EXPECT_NE(detail(slave.port).find("value 70000 (buffer[1])"), std::string::npos);

    ASSERT_EQ(ClosePort_Modbus(slave.port), REGWIRE_OK);
    ASSERT_EQ(Get_4X_DX(slave.port, 1, 0, 1, buf.data()), REGWIRE_ENOTOPEN);
    EXPECT_NE(detail(slave.port).find("not open"), std::string::npos);
}

}  // namespace
