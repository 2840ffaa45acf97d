// SPDX-License-Identifier: MIT
// The simulator as a process, driven by libmodbus as an independent master.
#include "slave_process.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <modbus.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "benchslave/fault_addresses.h"

namespace {

using support::SlaveProcess;

struct ModbusDeleter {
    void operator()(modbus_t* ctx) const {
        modbus_close(ctx);
        modbus_free(ctx);
    }
};
using Master = std::unique_ptr<modbus_t, ModbusDeleter>;

// A libmodbus master on a pts path or a tcp:HOST:PORT address.
Master connect_master(const std::string& address, int station) {
    modbus_t* ctx = nullptr;
    if (address.rfind("tcp:", 0) == 0) {
        const auto colon = address.rfind(':');
        ctx = modbus_new_tcp("127.0.0.1", std::stoi(address.substr(colon + 1)));
    } else {
        ctx = modbus_new_rtu(address.c_str(), 19200, 'N', 8, 1);
    }
    if (ctx == nullptr) return nullptr;
    modbus_set_slave(ctx, station);
    modbus_set_response_timeout(ctx, 0, 300000);
    if (modbus_connect(ctx) != 0) {
        modbus_free(ctx);
        return nullptr;
    }
    modbus_flush(ctx);
    return Master(ctx);
}

TEST(BenchslaveProcess, PtyAddressAndCountersOnStop) {
    SlaveProcess slave;
    ASSERT_TRUE(slave.started()) << slave.error();
    struct stat st = {};
    ASSERT_EQ(::stat(slave.address().c_str(), &st), 0) << slave.address();
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    EXPECT_EQ(slave.address().rfind("/dev/pts/", 0), 0u);

    Master m = connect_master(slave.address(), 1);
    ASSERT_TRUE(m);
    std::array<uint16_t, 4> regs{};
    ASSERT_EQ(modbus_read_registers(m.get(), 0, 4, regs.data()), 4);
    EXPECT_EQ(slave.counter("requests"), 1);

    const auto started = std::chrono::steady_clock::now();
    const auto printed = slave.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
    ASSERT_TRUE(WIFEXITED(slave.wait_status()));
    EXPECT_EQ(WEXITSTATUS(slave.wait_status()), 0);
    EXPECT_EQ(printed.at("requests"), 1);
    EXPECT_EQ(printed.at("fc03"), 1);
    EXPECT_EQ(printed.at("replies"), 1);
}

TEST(BenchslaveProcess, RegistersAreIndexedByStartPlusOffset) {
    for (const char* mode : {"pty", "tcp"}) {
        SlaveProcess slave(std::string(mode) == "tcp" ? std::vector<std::string>{"--tcp", "0"}
                                                      : std::vector<std::string>{});
        ASSERT_TRUE(slave.started()) << slave.error();
        Master m = connect_master(slave.address(), 1);
        ASSERT_TRUE(m) << mode;

        const std::array<uint16_t, 3> three{0x1111, 0x2222, 0xFFFF};
        ASSERT_EQ(modbus_write_registers(m.get(), 1000, 3, three.data()), 3);
        ASSERT_EQ(modbus_write_register(m.get(), 65535, 0xBEEF), 1);
        std::array<uint16_t, 5> around{};
        ASSERT_EQ(modbus_read_registers(m.get(), 999, 5, around.data()), 5);
        EXPECT_EQ(around, (std::array<uint16_t, 5>{0, 0x1111, 0x2222, 0xFFFF, 0})) << mode;
        uint16_t last = 0;
        ASSERT_EQ(modbus_read_registers(m.get(), 65535, 1, &last), 1);
        EXPECT_EQ(last, 0xBEEF);

        // Past the last register: an illegal data address exception.
        std::array<uint16_t, 2> past{};
        EXPECT_EQ(modbus_read_registers(m.get(), 65535, 2, past.data()), -1);
        EXPECT_EQ(errno, EMBXILADD) << mode;
        EXPECT_EQ(modbus_write_registers(m.get(), 65534, 3, three.data()), -1);
        EXPECT_EQ(errno, EMBXILADD) << mode;

        const auto c = slave.counters();
        EXPECT_EQ(c.at("fc16"), 2);
        EXPECT_EQ(c.at("fc06"), 1);
        EXPECT_EQ(c.at("fc03"), 3);
    }
}

TEST(BenchslaveProcess, InjectedFaultsAsAMasterSeesThem) {
    struct Case {
        std::vector<std::string> args;
        int start;
        int rtu_errno;  // what libmodbus reports on a pty
        int tcp_errno;  // and over TCP
        const char* counter;
    } cases[] = {
        {{"--no-reply-every", "1"}, 0, ETIMEDOUT, ETIMEDOUT, "faults_no_reply"},
        {{"--bad-crc-every", "1"}, 0, EMBBADCRC, EMBBADDATA, "faults_bad_crc"},
        {{"--exception", "3", "--exception-every", "1"},
         0,
         EMBXILVAL,
         EMBXILVAL,
         "faults_exception"},
        {{}, benchslave::kMagicNoReply, ETIMEDOUT, ETIMEDOUT, "faults_no_reply"},
        {{}, benchslave::kMagicBadCrc, EMBBADCRC, EMBBADDATA, "faults_bad_crc"},
        {{}, benchslave::kMagicException, EMBXSFAIL, EMBXSFAIL, "faults_exception"},
    };
    for (bool tcp : {false, true}) {
        for (const Case& c : cases) {
            auto args = c.args;
            if (tcp) args.insert(args.end(), {"--tcp", "0"});
            SlaveProcess slave(args);
            ASSERT_TRUE(slave.started()) << slave.error();
            Master m = connect_master(slave.address(), 1);
            ASSERT_TRUE(m);
            uint16_t v = 0;
            EXPECT_EQ(modbus_read_registers(m.get(), c.start, 1, &v), -1);
            EXPECT_EQ(errno, tcp ? c.tcp_errno : c.rtu_errno)
                << (tcp ? "tcp " : "pty ") << c.start << " " << modbus_strerror(errno);
            EXPECT_EQ(slave.counter(c.counter), 1) << c.counter;
        }
    }
}

TEST(BenchslaveProcess, RequestsOutOfRangeGetAnExceptionAtOnce) {
    struct Case {
        int function;
        int start;
        int count;
        int code;
    } cases[] = {
        {3, 0, 0, 3},
        {3, 0, 126, 3},
        {16, 0, 0, 3},
        {3, 65535, 2, 2},
    };
    for (bool tcp : {false, true}) {
        SlaveProcess slave(tcp ? std::vector<std::string>{"--tcp", "0"}
                               : std::vector<std::string>{});
        ASSERT_TRUE(slave.started()) << slave.error();
        Master m = connect_master(slave.address(), 1);
        ASSERT_TRUE(m);
        for (const Case& c : cases) {
            std::vector<uint8_t> req{1,
                                     static_cast<uint8_t>(c.function),
                                     static_cast<uint8_t>(c.start >> 8),
                                     static_cast<uint8_t>(c.start & 0xFF),
                                     static_cast<uint8_t>(c.count >> 8),
                                     static_cast<uint8_t>(c.count & 0xFF)};
            if (c.function == 16) req.push_back(0);  // no values
            ASSERT_GT(modbus_send_raw_request(m.get(), req.data(), static_cast<int>(req.size())),
                      0);
            uint8_t rsp[MODBUS_TCP_MAX_ADU_LENGTH];
            const int offset = tcp ? 7 : 1;
            const int n = modbus_receive_confirmation(m.get(), rsp);
            ASSERT_GT(n, offset + 1) << "fc " << c.function << " count " << c.count << ": "
                                     << modbus_strerror(errno) << (tcp ? " (tcp)" : " (pty)");
            EXPECT_EQ(rsp[offset], c.function | 0x80);
            EXPECT_EQ(rsp[offset + 1], c.code)
                << "fc " << c.function << " start " << c.start << " count " << c.count;
        }
    }
}

TEST(BenchslaveProcess, DelayedReplyArrivesLate) {
    SlaveProcess slave({"--delay-ms", "300", "--delay-every", "2"});
    ASSERT_TRUE(slave.started()) << slave.error();
    Master m = connect_master(slave.address(), 1);
    ASSERT_TRUE(m);
    uint16_t v = 0;
    modbus_set_response_timeout(m.get(), 2, 0);
    for (int i = 1; i <= 2; ++i) {
        const auto began = std::chrono::steady_clock::now();
        ASSERT_EQ(modbus_read_registers(m.get(), 0, 1, &v), 1);
        const auto took = std::chrono::steady_clock::now() - began;
        if (i == 2) {
            EXPECT_GE(took, std::chrono::milliseconds(290));
        }
    }
    EXPECT_EQ(slave.counter("faults_delay"), 1);
}

TEST(BenchslaveProcess, OtherStationsAreIgnoredAndBroadcastsApplied) {
    SlaveProcess slave({"--station", "5"});
    ASSERT_TRUE(slave.started()) << slave.error();
    Master other = connect_master(slave.address(), 6);
    ASSERT_TRUE(other);
    uint16_t v = 0;
    EXPECT_EQ(modbus_read_registers(other.get(), 0, 1, &v), -1);
    EXPECT_EQ(errno, ETIMEDOUT);
    other.reset();

    Master mine = connect_master(slave.address(), 5);
    ASSERT_TRUE(mine);
    // Right after an ignored request, the next one for us is still answered.
    EXPECT_EQ(modbus_read_registers(mine.get(), 0, 1, &v), 1);

    modbus_set_slave(mine.get(), 0);
    modbus_set_response_timeout(mine.get(), 0, 100000);
    const uint16_t value = 0x4242;
    // libmodbus waits for a reply that a broadcast never gets.
    EXPECT_EQ(modbus_write_registers(mine.get(), 7, 1, &value), -1);
    EXPECT_EQ(errno, ETIMEDOUT);
    modbus_set_slave(mine.get(), 5);
    ASSERT_EQ(modbus_read_registers(mine.get(), 7, 1, &v), 1);
    EXPECT_EQ(v, 0x4242);

    const auto c = slave.counters();
    EXPECT_EQ(c.at("ignored"), 1);
    EXPECT_EQ(c.at("broadcasts"), 1);
    EXPECT_EQ(c.at("requests"), 2);
    EXPECT_EQ(c.at("replies"), 2);
}

TEST(BenchslaveProcess, DemoRegistersChangeOverTime) {
    SlaveProcess slave({"--pattern", "demo"});
    ASSERT_TRUE(slave.started()) << slave.error();
    Master m = connect_master(slave.address(), 1);
    ASSERT_TRUE(m);
    uint16_t first = 0;
    ASSERT_EQ(modbus_read_registers(m.get(), 0, 1, &first), 1);
    const bool changed = support::eventually(
        [&] {
            uint16_t now = first;
            return modbus_read_registers(m.get(), 0, 1, &now) == 1 && now != first;
        },
        std::chrono::seconds(3));
    EXPECT_TRUE(changed);
}

TEST(BenchslaveProcess, ServesASerialDevice) {
    // A pseudo-terminal stands in for the device; this test is the other end.
    const int master_fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master_fd, 0);
    ASSERT_EQ(::grantpt(master_fd), 0);
    ASSERT_EQ(::unlockpt(master_fd), 0);
    const std::string pts = ::ptsname(master_fd);

    {
        SlaveProcess slave({"--device", pts, "--baud", "38400", "--parity", "N"});
        ASSERT_TRUE(slave.started()) << slave.error();
        EXPECT_EQ(slave.address(), pts);
        modbus_t* ctx = modbus_new_rtu("pty-master", 38400, 'N', 8, 1);
        ASSERT_NE(ctx, nullptr);
        modbus_set_socket(ctx, master_fd);
        modbus_set_slave(ctx, 1);
        modbus_set_response_timeout(ctx, 1, 0);
        const uint16_t w = 321;
        EXPECT_EQ(modbus_write_registers(ctx, 5, 1, &w), 1);
        uint16_t r = 0;
        EXPECT_EQ(modbus_read_registers(ctx, 5, 1, &r), 1);
        EXPECT_EQ(r, 321);
        EXPECT_EQ(slave.counter("line_baud"), 38400);
        modbus_free(ctx);  // the descriptor is ours
    }
    ::close(master_fd);
}

TEST(BenchslaveProcess, BadCommandLineExitsWithUsage) {
    const auto r = support::run_program({SlaveProcess::binary_path(), "--station", "999"},
                                        std::chrono::seconds(10));
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_NE(r.out.find("usage"), std::string::npos) << r.out;

    const auto missing = support::run_program(
        {SlaveProcess::binary_path(), "--device", "/nonexistent/tty"}, std::chrono::seconds(10));
    ASSERT_TRUE(missing.finished);
    EXPECT_EQ(missing.exit_code, 1);
}

}  // namespace
