// SPDX-License-Identifier: MIT
// mbpoll, a master that shares no code with Regwire, reads what Regwire wrote and
// writes what Regwire then reads, through the simulator's line.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "mbpoll.h"
#include "regwire.h"
#include "slave_process.h"

namespace {

using support::run_program;
using support::SlaveProcess;

constexpr int kPort = 5;

struct Link {
    int32_t speed_index;
    int32_t parity_index;
    const char* baud;
    const char* parity;
};

// mbpoll's command line for the simulator's line, PDU addressing, one poll.
std::vector<std::string> mbpoll_args(const SlaveProcess& slave, const Link& link, bool wide,
                                     int start) {
    return {"mbpoll",
            "-m",
            "rtu",
            "-b",
            link.baud,
            "-P",
            link.parity,
            "-a",
            "1",
            "-0",
            "-o",
            "1",
            "-t",
            wide ? "4:int" : "4",
            "-B",
            "-r",
            std::to_string(start),
            slave.address()};
}

class PeerInterop : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        if (!support::on_path("mbpoll")) GTEST_SKIP() << "mbpoll is not on PATH";
    }
};

const Link kLinks[] = {{2, 0, "19200", "none"}, {1, 2, "9600", "even"}, {5, 1, "115200", "odd"}};

TEST_P(PeerInterop, MbpollReadsWhatRegwireWrote) {
    const bool wide = GetParam();
    for (const Link& link : kLinks) {
        SlaveProcess slave({}, kPort);
        ASSERT_TRUE(slave.started()) << slave.error();
        std::vector<int32_t> values =
            wide ? std::vector<int32_t>{-1, 100000, -123456789, INT32_MAX, INT32_MIN}
                 : std::vector<int32_t>{-1, 0, 32767, -32768, 12345};
        const int start = 200;
        ASSERT_EQ(OpenPort_Modbus(kPort, link.speed_index, link.parity_index), REGWIRE_OK);
        const auto count = static_cast<int32_t>(values.size());
        ASSERT_EQ((wide ? Set_4X_LDX : Set_4X_DX)(kPort, 1, start, count, values.data()),
                  REGWIRE_OK);
        // The line is free for another master once Regwire lets go of it.
        ASSERT_EQ(ClosePort_Modbus(kPort), REGWIRE_OK);

        auto args = mbpoll_args(slave, link, wide, start);
        args.insert(args.end() - 1, {"-1", "-c", std::to_string(values.size())});
        const auto r = run_program(args, std::chrono::seconds(20));
        ASSERT_TRUE(r.finished && r.exit_code == 0) << r.out;
        const auto got = bench::testing::parseMbpollValues(r.out);
        ASSERT_EQ(got.size(), values.size()) << r.out;
        for (std::size_t i = 0; i < values.size(); ++i) {
            const int address = start + static_cast<int>(i) * (wide ? 2 : 1);
            ASSERT_TRUE(got.count(address)) << address << "\n" << r.out;
            EXPECT_EQ(got.at(address), values[i]) << "register " << address << " at " << link.baud;
        }
    }
}

TEST_P(PeerInterop, RegwireReadsWhatMbpollWrote) {
    const bool wide = GetParam();
    for (const Link& link : kLinks) {
        SlaveProcess slave({}, kPort);
        ASSERT_TRUE(slave.started()) << slave.error();
        // mbpoll takes 16-bit registers as unsigned raw words only; Regwire reads
        // them back sign-extended.
        const std::vector<int32_t> written =
            wide ? std::vector<int32_t>{-2, 65536, -70000, 2000000000}
                 : std::vector<int32_t>{65534, 1, 32768, 32767};
        const std::vector<int32_t> values =
            wide ? written : std::vector<int32_t>{-2, 1, -32768, 32767};
        const int start = 400;
        auto args = mbpoll_args(slave, link, wide, start);
        args.push_back("--");
        for (int32_t v : written) args.push_back(std::to_string(v));
        const auto r = run_program(args, std::chrono::seconds(20));
        ASSERT_TRUE(r.finished && r.exit_code == 0) << r.out;
        EXPECT_EQ(slave.counter("fc16"), 1) << r.out;

        ASSERT_EQ(OpenPort_Modbus(kPort, link.speed_index, link.parity_index), REGWIRE_OK);
        std::vector<int32_t> back(values.size(), 0);
        const auto count = static_cast<int32_t>(values.size());
        EXPECT_EQ((wide ? Get_4X_LDX : Get_4X_DX)(kPort, 1, start, count, back.data()), REGWIRE_OK);
        EXPECT_EQ(back, values) << "at " << link.baud;
        EXPECT_EQ(ClosePort_Modbus(kPort), REGWIRE_OK);
    }
}

INSTANTIATE_TEST_SUITE_P(Widths, PeerInterop, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& param_info) {
                             return param_info.param ? std::string("ThirtyTwoBit")
                                                     : std::string("SixteenBit");
                         });

}  // namespace
