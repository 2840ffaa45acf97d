// SPDX-License-Identifier: MIT
// A libRegwire.so without Get_4X_DX: every other function is bound and called by
// name; the missing one is reported with the loader's reason. It lacks the
// failure detail as well, which a notice can do without.
#include "window_fixture.h"

namespace bench::testing {
namespace {

using Calls = std::vector<std::string>;

TEST_F(WindowTest, TheMissingFunctionIsReportedByName) {
    open(Variant::Word16);
    click(c().Command9);
    EXPECT_EQ(recording().takeCalls(), Calls{"OpenPort_Modbus 6 3 2"});
    click(c().Command3);
    window().readPanel().Timer1_Timer();
    const auto boxes = window().findChildren<QMessageBox*>();
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_TRUE(boxes.front()->text().contains(QStringLiteral("Get_4X_DX")));
    EXPECT_TRUE(boxes.front()->informativeText().contains(QStringLiteral("undefined symbol")))
        << boxes.front()->informativeText().toStdString();
    EXPECT_FALSE(c().Timer1->isActive());
    // Close is bound on its own and works.
    click(c().Command10);
    EXPECT_EQ(recording().takeCalls(), Calls{"ClosePort_Modbus 6"});
}

TEST_F(WindowTest, WithoutTheFailureDetailANoticeSaysWhatItCan) {
    open(Variant::Word16);
    recording().setResult(-3);
    click(c().Command9);
    const auto boxes = window().findChildren<QMessageBox*>();
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_EQ(boxes.front()->text(), QStringLiteral("打开端口 6 失败：无法打开端口的设备。"));
    EXPECT_EQ(boxes.front()->informativeText(), QStringLiteral("OpenPort_Modbus returned -3"));
}

TEST_F(WindowTest, TheOtherVariantDoesNotNeedIt) {
    open(Variant::Long32);
    click(c().Command3);
    window().readPanel().Timer1_Timer();
    EXPECT_EQ(recording().takeCalls(), Calls{"Get_4X_LDX 0 0 1 1"});
    EXPECT_EQ(messageBoxes(), 0);
    EXPECT_TRUE(c().Timer1->isActive());
}

}  // namespace
}  // namespace bench::testing
