// SPDX-License-Identifier: MIT
#include "core/failure_text.h"

#include <gtest/gtest.h>

#include "param_name.h"
#include "regwire.h"

namespace bench {
namespace {

// The call as plain values: a std::string in these temporaries makes GCC 12 at -O3
// warn of maybe-uninitialized memory (a false positive) when they are destroyed.
struct CallCase {
    Command command;
    const char* function;
    int32_t port;
    int32_t station;
    int32_t result;
    const char* detail;
};

FailedCall failedCall(const CallCase& c) {
    return {c.command, c.function, c.port, c.station, c.result, c.detail};
}

struct NoticeCase {
    CallCase call;
    std::vector<RefusedValue> refused;
    const char* title;
    const char* sentence;
    const char* detail;
};

class FailureNotice : public ::testing::TestWithParam<NoticeCase> {};

TEST_P(FailureNotice, NamesCommandPortAndReasonThenTheLibrarysWords) {
    const NoticeCase& c = GetParam();
    const NoticeText notice = failureNotice(failedCall(c.call), c.refused);
    EXPECT_EQ(notice.title, c.title);
    EXPECT_EQ(notice.sentence, c.sentence);
    EXPECT_EQ(notice.detail, c.detail);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FailureNotice,
    ::testing::Values(
        NoticeCase{{Command::Open, "OpenPort_Modbus", 6, 0, REGWIRE_EOPEN,
                    "port 6 (/dev/ttyS5): No such file or directory"},
                   {},
                   "打开失败",
                   "打开端口 6 失败：无法打开端口的设备。",
                   "port 6 (/dev/ttyS5): No such file or directory\nOpenPort_Modbus returned -3"},
        // Without the library's account the notice says what the window knows.
        // What the operator can do: join the device's group, map the port.
        NoticeCase{
            {Command::Open, "OpenPort_Modbus", 6, 0, REGWIRE_EOPEN,
             "port 6 (/dev/ttyUSB0): open: Permission denied; device from user file "
             "/home/a/.config/regwire/ports.conf"},
            {},
            "打开失败",
            "打开端口 6 失败：无法打开端口的设备。没有使用该设备的权限：请加入 dialout "
            "组（sudo adduser $USER dialout），然后重新登录；regwire ports 显示能否打开各设备。",
            "port 6 (/dev/ttyUSB0): open: Permission denied; device from user file "
            "/home/a/.config/regwire/ports.conf\nJoin group dialout (sudo adduser $USER "
            "dialout), then log in again; regwire ports shows whether you may open each "
            "device.\nOpenPort_Modbus returned -3"},
        NoticeCase{{Command::Open, "OpenPort_Modbus", 7, 0, REGWIRE_EOPEN,
                    "port 7 (/dev/ttyS6): open: No such file or directory; device from default"},
                   {},
                   "打开失败",
                   "打开端口 7 失败：无法打开端口的设备。端口 7 没有映射到设备：用 regwire map 7 "
                   "设备 把适配器映射到该端口（regwire ports 列出设备）。",
                   "port 7 (/dev/ttyS6): open: No such file or directory; device from "
                   "default\nPort 7 is mapped to no device; map one with: regwire map 7 DEVICE "
                   "(regwire ports lists the devices).\nOpenPort_Modbus returned -3"},
        NoticeCase{{Command::Close, "ClosePort_Modbus", 2, 0, REGWIRE_EIO, ""},
                   {},
                   "关闭失败",
                   "关闭端口 2 失败：通讯线路故障。",
                   "ClosePort_Modbus returned -8"},
        NoticeCase{{Command::Write, "Set_4X_DX", 6, 3, REGWIRE_ETIMEOUT, ""},
                   {},
                   "写入失败",
                   "写入端口 6 失败：站号 3 的从站没有按时应答。",
                   "Set_4X_DX returned -4"},
        NoticeCase{{Command::Write, "Set_4X_LDX", 6, 1, REGWIRE_EXCEPTION_BASE - 2, ""},
                   {},
                   "写入失败",
                   "写入端口 6 失败：站号 1 的从站回复异常码 2（非法数据地址）。",
                   "Set_4X_LDX returned -102"},
        // Values out of range are not the reason of another failure.
        NoticeCase{{Command::Write, "Set_4X_DX", 6, 1, REGWIRE_EXCEPTION_BASE - 99, ""},
                   {{1, 70000}},
                   "写入失败",
                   "写入端口 6 失败：站号 1 的从站回复异常码 99。",
                   "Set_4X_DX returned -199"},
        NoticeCase{{Command::Write, "Set_4X_DX", 1, 1, -1000, ""},
                   {},
                   "写入失败",
                   "写入端口 1 失败：驱动程序返回错误 -1000。",
                   "Set_4X_DX returned -1000"},
        NoticeCase{{Command::Write, "Set_4X_DX", 6, 1, REGWIRE_ERANGE, ""},
                   {{1, 70000}, {3, -40000}},
                   "写入失败",
                   "写入端口 6 失败：第 1 行的值 70000、第 3 行的值 -40000 超出 "
                   "-32768..65535，未写入任何值。",
                   "Set_4X_DX returned -6"}),
    [](const auto& p) {
        return std::to_string(p.index) + "_" + p.param.call.function + "_returns_" +
               testnames::fromNumber(p.param.call.result);
    });

TEST(FailureNotice, ListsAtMostEightRefusedValues) {
    std::vector<RefusedValue> refused;
    for (int32_t row = 1; row <= 10; ++row) refused.push_back({row, 70000});
    const std::string sentence =
        failureNotice({Command::Write, "Set_4X_DX", 6, 1, REGWIRE_ERANGE, ""}, refused).sentence;
    EXPECT_NE(sentence.find("第 8 行"), std::string::npos) << sentence;
    EXPECT_EQ(sentence.find("第 9 行"), std::string::npos) << sentence;
    EXPECT_NE(sentence.find("等 10 个值"), std::string::npos) << sentence;
}

TEST(RefusedValues16, OnlyValuesOutsideSixteenBitsAmongTheCounted) {
    const int32_t values[] = {-32768, 65535, -32769, 65536, 0, 70000};
    const auto refused = refusedValues16(values, 5);  // the sixth is not written
    ASSERT_EQ(refused.size(), 2u);
    EXPECT_EQ(refused[0].row, 3);
    EXPECT_EQ(refused[0].value, -32769);
    EXPECT_EQ(refused[1].row, 4);
    EXPECT_EQ(refused[1].value, 65536);
    EXPECT_TRUE(refusedValues16(values, 0).empty());
    EXPECT_TRUE(refusedValues16(nullptr, 5).empty());
}

TEST(CloseFailure, APortThatWasNotOpenIsNoFailureWorthANotice) {
    EXPECT_FALSE(closeFailureIsWorthANotice(REGWIRE_OK));
    EXPECT_FALSE(closeFailureIsWorthANotice(REGWIRE_ENOTOPEN));
    EXPECT_FALSE(closeFailureIsWorthANotice(REGWIRE_EBADARG));  // port 0: never open
    EXPECT_TRUE(closeFailureIsWorthANotice(REGWIRE_EIO));
    EXPECT_TRUE(closeFailureIsWorthANotice(-1000));
}

TEST(StaleReadTip, GivesTheReasonAndTheLastGoodReadOrNever) {
    const FailedCall call{
        Command::Read, "Get_4X_DX", 6, 1, REGWIRE_ENOTOPEN, "port 6 (/dev/ttyS5) is not open"};
    EXPECT_EQ(staleReadTip(call, std::nullopt),
              "读取端口 6 失败：端口未打开。\n上次成功读取：从未\n"
              "port 6 (/dev/ttyS5) is not open\nGet_4X_DX returned -2");
    // The registers of that read: the start address may have changed since.
    const std::string when = "12-08-2026 09:30:00";
    for (const auto& [read, registers] : {std::pair{goodRead(when, 100, 5, 1), "寄存器 100..104"},
                                          std::pair{goodRead(when, 100, 5, 2), "寄存器 100..109"},
                                          std::pair{goodRead(when, 65535, 1, 1), "寄存器 65535"},
                                          std::pair{goodRead(when, 0, 64, 2), "寄存器 0..127"}}) {
        const std::string tip = staleReadTip(call, read);
        EXPECT_NE(tip.find("上次成功读取：" + when + "，" + registers + "\n"), std::string::npos)
            << tip;
    }
}

}  // namespace
}  // namespace bench
