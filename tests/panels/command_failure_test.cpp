// SPDX-License-Identifier: MIT
// An explicit command whose driver call fails shows one non-modal notice naming
// the command, the port, the device and the reason; a success shows nothing.
#include "regwire.h"
#include "window_fixture.h"

namespace bench::testing {
namespace {

enum class Press { Open, Close, Write };

struct FailureCase {
    const char* name;
    Variant variant;
    Press press;
    int32_t result;
    const char* detail;     // what the library says of the failure
    const char* sentence;   // the notice's sentence; null: no notice
    const char* technical;  // part of its detail
};

class CommandFailure : public WindowTest, public ::testing::WithParamInterface<FailureCase> {
  protected:
    void press(Press p) {
        click(p == Press::Open ? c().Command9 : p == Press::Close ? c().Command10 : c().Command2);
    }
};

TEST_P(CommandFailure, ShowsOneNoticeOrNone) {
    const FailureCase& f = GetParam();
    open(f.variant);
    click(c().Command9);
    window().writePanel().Timer2_Timer();  // a count of 1, a start of 1
    state().WriteValues[0] = 70000;
    click(c().Command3);
    recording().setResult(f.result);
    recording().setFailureDetail(f.detail);
    press(f.press);
    const auto boxes = window().findChildren<QMessageBox*>();
    if (f.sentence == nullptr) {
        EXPECT_TRUE(boxes.empty());
        return;
    }
    ASSERT_EQ(boxes.size(), 1);
    QMessageBox* box = boxes.front();
    EXPECT_EQ(box->text().toStdString(), f.sentence);
    EXPECT_TRUE(box->informativeText().contains(QString::fromUtf8(f.technical)))
        << box->informativeText().toStdString();
    EXPECT_EQ(box->windowModality(), Qt::NonModal);
    EXPECT_TRUE(box->isVisible());
    // The steps of the handler ran as before: Close still stopped reading.
    if (f.press == Press::Close) {
        EXPECT_FALSE(c().Timer1->isActive());
    }
}

const char* kOpenDetail = "port 6 (/dev/ttyS5): open: Permission denied";

INSTANTIATE_TEST_SUITE_P(
    Cases, CommandFailure,
    ::testing::Values(
        FailureCase{
            "OpenRefused", Variant::Word16, Press::Open, REGWIRE_EOPEN, kOpenDetail,
            "打开端口 6 失败：无法打开端口的设备。没有使用该设备的权限：请加入 dialout "
            "组（sudo adduser $USER dialout），然后重新登录；regwire ports 显示能否打开各设备。",
            "Join group dialout (sudo adduser $USER dialout), then log in again;"},
        FailureCase{"OpenUnmapped", Variant::Long32, Press::Open, REGWIRE_EOPEN,
                    "port 6 (/dev/ttyS5): open: No such file or directory; device from default",
                    "打开端口 6 失败：无法打开端口的设备。端口 6 没有映射到设备：用 regwire map 6 "
                    "设备 把适配器映射到该端口（regwire ports 列出设备）。",
                    "map one with: regwire map 6 DEVICE"},
        FailureCase{"OpenWorks", Variant::Word16, Press::Open, REGWIRE_OK, "", nullptr, ""},
        FailureCase{"CloseLost", Variant::Long32, Press::Close, REGWIRE_EIO, "",
                    "关闭端口 6 失败：通讯线路故障。", "ClosePort_Modbus returned -8"},
        FailureCase{"CloseNotOpen", Variant::Word16, Press::Close, REGWIRE_ENOTOPEN, "", nullptr,
                    ""},
        FailureCase{"WriteTimedOut", Variant::Long32, Press::Write, REGWIRE_ETIMEOUT,
                    "port 6 (/dev/pts/3): station 1: no reply in 0.2 s",
                    "写入端口 6 失败：站号 1 的从站没有按时应答。", "/dev/pts/3"},
        FailureCase{"WriteException", Variant::Word16, Press::Write, REGWIRE_EXCEPTION_BASE - 2, "",
                    "写入端口 6 失败：站号 1 的从站回复异常码 2（非法数据地址）。",
                    "Set_4X_DX returned -102"},
        FailureCase{"WriteOutOfRange", Variant::Word16, Press::Write, REGWIRE_ERANGE, "",
                    "写入端口 6 失败：第 1 行的值 70000 超出 -32768..65535，未写入任何值。",
                    "Set_4X_DX returned -6"},
        // A result this program does not know is a failure, shown with its number.
        FailureCase{"WriteUnknownResult", Variant::Long32, Press::Write, -99, "",
                    "写入端口 6 失败：驱动程序返回错误 -99。", "Set_4X_LDX returned -99"},
        FailureCase{
            "WritePending", Variant::Long32, Press::Write, REGWIRE_EPENDING, "",
            "写入端口 6 失败：站号 1 的从站对前一请求的应答可能仍会到达，本次未发送任何数据。",
            "Set_4X_LDX returned -9"},
        FailureCase{"WriteWorks", Variant::Word16, Press::Write, REGWIRE_OK, "", nullptr, ""}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(WindowTest, ANewNoticeReplacesTheOpenOneAndTheWindowStaysUsable) {
    open(Variant::Word16);
    recording().setResult(REGWIRE_EOPEN);
    click(c().Command9);
    ASSERT_EQ(messageBoxes(), 1);
    recording().takeCalls();
    // Behind the notice the window still takes clicks.
    recording().setResult(REGWIRE_ETIMEOUT);
    clickThroughWindow(c().Command2);
    EXPECT_EQ(recording().takeCalls().size(), 1u);
    const auto boxes = window().findChildren<QMessageBox*>();
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_TRUE(boxes.front()->text().startsWith(QStringLiteral("写入端口 6 失败")));
}

}  // namespace
}  // namespace bench::testing
