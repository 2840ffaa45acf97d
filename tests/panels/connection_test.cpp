// SPDX-License-Identifier: MIT
// Open and Close, through the recording stand-in of the driver: the exact calls.
#include "param_name.h"
#include "window_fixture.h"

namespace bench::testing {
namespace {

using Calls = std::vector<std::string>;

class Connection : public WindowTest {
  protected:
    void SetUp() override { open(Variant::Word16); }
};

TEST_F(Connection, OpenWithTheDefaults) {
    click(c().Command9);
    EXPECT_EQ(recording().takeCalls(), Calls{"OpenPort_Modbus 6 3 2"});
    EXPECT_EQ(state().PortSettings[kStation], 1);
    EXPECT_EQ(state().PortSettings[kPort], 6);
}

TEST_F(Connection, ParityFollowsTheSelectedOption) {
    click(c().Option2[1]);
    click(c().Command9);
    click(c().Option2[0]);
    click(c().Command9);
    EXPECT_EQ(recording().takeCalls(), (Calls{"OpenPort_Modbus 6 3 1", "OpenPort_Modbus 6 3 0"}));
}

struct OpenCase {
    const char* port;
    const char* speed;
    const char* station;
    const char* expectedCall;
    int32_t expectedStation;
};

class OpenTexts : public Connection, public ::testing::WithParamInterface<OpenCase> {};

TEST_P(OpenTexts, OnlyTheLeadingNumberCounts) {
    const OpenCase& o = GetParam();
    c().Combo1->setEditText(QString::fromUtf8(o.port));
    c().Combo3->setEditText(QString::fromUtf8(o.speed));
    c().Combo2->setEditText(QString::fromUtf8(o.station));
    click(c().Command9);
    EXPECT_EQ(recording().takeCalls(), Calls{o.expectedCall});
    EXPECT_EQ(state().PortSettings[kStation], o.expectedStation);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, OpenTexts,
    ::testing::Values(OpenCase{"6 ", "9600", "1 ", "OpenPort_Modbus 6 9600 2", 1},
                      OpenCase{"12abc", "8:961200 ", "3 ", "OpenPort_Modbus 12 8 2", 3},
                      OpenCase{"x", "0:4800 ", "19 ", "OpenPort_Modbus 0 0 2", 19},
                      OpenCase{"2.5", "1:9600 ", "3.5", "OpenPort_Modbus 2 1 2", 4},
                      OpenCase{"3.5", "", "abc", "OpenPort_Modbus 4 0 2", 0}),
    [](const auto& p) {
        return "Port_" + testnames::fromText(p.param.port) + "_Speed_" +
               testnames::fromText(p.param.speed) + "_Station_" +
               testnames::fromText(p.param.station);
    });

TEST_F(Connection, ANumberBeyond32BitsKeepsThePreviousPort) {
    c().Combo1->setEditText(QStringLiteral("7 "));
    click(c().Command9);
    c().Combo1->setEditText(QStringLiteral("99999999999"));
    c().Combo2->setEditText(QStringLiteral("1E20"));
    click(c().Command9);
    EXPECT_EQ(recording().takeCalls(), (Calls{"OpenPort_Modbus 7 3 2", "OpenPort_Modbus 7 3 2"}));
    EXPECT_EQ(state().PortSettings[kStation], 1);
}

TEST_F(Connection, TheResultOfOpenAndCloseIsKept) {
    click(c().Command9);
    EXPECT_EQ(state().PortSettings[kLastOpenCloseResult], 0);
    recording().setResult(-3);
    click(c().Command10);
    EXPECT_EQ(state().PortSettings[kLastOpenCloseResult], -3);
}

TEST_F(Connection, CloseBeforeAnyOpenClosesPortZeroAndStopsReading) {
    click(c().Command3);
    ASSERT_TRUE(c().Timer1->isActive());
    recording().takeCalls();
    click(c().Command10);
    EXPECT_EQ(recording().takeCalls(), Calls{"ClosePort_Modbus 0"});
    EXPECT_FALSE(c().Timer1->isActive());
    EXPECT_EQ(messageBoxes(), 0);
}

TEST_F(Connection, CloseUsesThePortOfTheLastOpen) {
    c().Combo1->setEditText(QStringLiteral("4 "));
    click(c().Command9);
    c().Combo1->setEditText(QStringLiteral("9 "));
    click(c().Command10);
    EXPECT_EQ(recording().takeCalls(), (Calls{"OpenPort_Modbus 4 3 2", "ClosePort_Modbus 4"}));
}

TEST_F(Connection, AStationChangedAfterOpenWaitsForTheNextOpen) {
    click(c().Command9);
    c().Combo2->setEditText(QStringLiteral("5 "));
    EXPECT_EQ(state().PortSettings[kStation], 1);
    click(c().Command9);
    EXPECT_EQ(state().PortSettings[kStation], 5);
}

}  // namespace
}  // namespace bench::testing
