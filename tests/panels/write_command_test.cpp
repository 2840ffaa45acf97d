// SPDX-License-Identifier: MIT
// Write sends all 64 values with one driver call and changes nothing in the window.
#include <sstream>

#include "window_fixture.h"

namespace bench::testing {
namespace {

using Calls = std::vector<std::string>;

// The expected log line of a write: name, four arguments and 81 buffer elements.
std::string writeCall(const char* function, const std::string& args,
                      const std::array<int32_t, 81>& buffer) {
    std::ostringstream line;
    line << function << ' ' << args << " |";
    for (int32_t v : buffer) line << ' ' << v;
    return line.str();
}

class WriteCommand : public WindowTest, public ::testing::WithParamInterface<Variant> {
  protected:
    void SetUp() override { open(GetParam()); }
    const char* function() const {
        return GetParam() == Variant::Word16 ? "Set_4X_DX" : "Set_4X_LDX";
    }
};

TEST_P(WriteCommand, SendsPortStationStartCountAndTheFirst64Values) {
    c().Combo1->setEditText(QStringLiteral("1 "));
    click(c().Command9);
    c().Text4->setText(QStringLiteral("3"));
    c().Text3->setText(QStringLiteral("100"));
    window().writePanel().Timer2_Timer();
    std::array<int32_t, 81> expected{};
    for (std::size_t k = 0; k < 81; ++k) {
        state().WriteValues[k] = static_cast<int32_t>(k) * 3 - 7;  // also beyond the count
        if (k < 64) expected[k] = state().WriteValues[k];
    }
    state().WriteValues[0] = 5;
    expected[0] = 5;
    recording().takeCalls();
    click(c().Command2);
    EXPECT_EQ(recording().takeCalls(), Calls{writeCall(function(), "1 1 100 3", expected)});
    EXPECT_EQ(messageBoxes(), 0);
}

TEST_P(WriteCommand, BeforeTheFirstTickAndBeforeOpenEverythingIsZero) {
    state().WriteValues[0] = 9;
    click(c().Command2);
    std::array<int32_t, 81> expected{};
    expected[0] = 9;
    EXPECT_EQ(recording().takeCalls(), Calls{writeCall(function(), "0 0 0 0", expected)});
}

TEST_P(WriteCommand, UncommittedEditorTextIsNotWritten) {
    window().writePanel().Timer2_Timer();
    clickCell(c().MSFlexGrid2, 1, 1);
    QTest::keyClicks(c().Text5, QStringLiteral("555"));
    click(c().Command2);
    const Calls calls = recording().takeCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0], writeCall(function(), "0 0 1 1", {}));
    EXPECT_TRUE(c().Text5->isVisible());
}

TEST_P(WriteCommand, UsesTheCountAndStartOfTheLastTick) {
    window().writePanel().Timer2_Timer();
    c().Text4->setText(QStringLiteral("4"));
    c().Text3->setText(QStringLiteral("50"));
    click(c().Command2);
    const Calls calls = recording().takeCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0], writeCall(function(), "0 0 1 1", {}));
}

INSTANTIATE_TEST_SUITE_P(Variants, WriteCommand,
                         ::testing::Values(Variant::Word16, Variant::Long32), [](const auto& p) {
                             return p.param == Variant::Word16 ? "Word16" : "Long32";
                         });

}  // namespace
}  // namespace bench::testing
