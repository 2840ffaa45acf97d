// SPDX-License-Identifier: MIT
// The write grid follows Text4, Text3 and WriteValues at every tick of Timer2.
#include "window_fixture.h"

namespace bench::testing {
namespace {

using Row = std::vector<std::string>;

class WriteGrid : public WindowTest, public ::testing::WithParamInterface<Variant> {
  protected:
    void SetUp() override { open(GetParam()); }
    void tick() { window().writePanel().Timer2_Timer(); }
    int step() const { return GetParam() == Variant::Word16 ? 1 : 2; }
};

TEST_P(WriteGrid, ShowsNumbersValuesAndAddresses) {
    state().WriteValues[0] = 5;
    state().WriteValues[1] = -7;
    state().WriteValues[2] = 0;
    c().Text4->setText(QStringLiteral("3"));
    c().Text3->setText(QStringLiteral("100"));
    tick();
    FlexGrid* grid = c().MSFlexGrid2;
    ASSERT_EQ(grid->rows(), 4);
    EXPECT_EQ(rowTexts(grid, 0), (Row{"编号", "当前值", "寄存器地址"}));
    EXPECT_EQ(rowTexts(grid, 1), (Row{"1", "5", "100"}));
    EXPECT_EQ(rowTexts(grid, 2), (Row{"2", "-7", std::to_string(100 + step())}));
    EXPECT_EQ(rowTexts(grid, 3), (Row{"3", "0", std::to_string(100 + 2 * step())}));
    EXPECT_EQ(window().writePanel().WriteCount(), 3);
    EXPECT_EQ(window().writePanel().WriteStart(), 100);
    for (int row = 0; row <= 3; ++row) {
        EXPECT_EQ(grid->cellAlignment(row, 2), Qt::AlignLeft | Qt::AlignBottom);
    }
}

TEST_P(WriteGrid, LastAddressOfAFullGridIsWrittenOutInFull) {
    c().Text4->setText(QStringLiteral("64"));
    c().Text3->setText(QStringLiteral("65535"));
    tick();
    EXPECT_EQ(c().MSFlexGrid2->rows(), 65);
    EXPECT_EQ(c().MSFlexGrid2->text(64, 2).toStdString(), std::to_string(65535 + 63 * step()));
}

TEST_P(WriteGrid, StartAddressRoundsHalvesToEven) {
    c().Text3->setText(QStringLiteral("12.5"));
    tick();
    EXPECT_EQ(c().MSFlexGrid2->text(1, 2), QStringLiteral("12"));
    c().Text3->setText(QStringLiteral("13.5"));
    tick();
    EXPECT_EQ(c().MSFlexGrid2->text(1, 2), QStringLiteral("14"));
}

TEST_P(WriteGrid, HiddenValuesComeBackWhenTheCountGrows) {
    for (int i = 0; i < 10; ++i) state().WriteValues[static_cast<std::size_t>(i)] = 100 + i;
    c().Text4->setText(QStringLiteral("10"));
    tick();
    c().Text4->setText(QStringLiteral("3"));
    tick();
    EXPECT_EQ(c().MSFlexGrid2->rows(), 4);
    c().Text4->setText(QStringLiteral("10"));
    tick();
    ASSERT_EQ(c().MSFlexGrid2->rows(), 11);
    for (int row = 1; row <= 10; ++row) {
        EXPECT_EQ(c().MSFlexGrid2->text(row, 1).toInt(), 99 + row);
    }
}

TEST_P(WriteGrid, ACountAbove64ReachingTheTickBecomes1) {
    c().Text4->blockSignals(true);
    c().Text4->setText(QStringLiteral("65"));
    c().Text4->blockSignals(false);
    tick();
    EXPECT_EQ(c().Text4->text(), QStringLiteral("1"));
    EXPECT_EQ(c().MSFlexGrid2->rows(), 2);
}

TEST_P(WriteGrid, TheFirstTickComesAfterASecond) {
    EXPECT_EQ(window().writePanel().WriteCount(), 0);
    EXPECT_EQ(c().MSFlexGrid2->text(0, 1), QString());
    const auto ticked = [&] { return window().writePanel().WriteCount() == 1; };
    EXPECT_TRUE(QTest::qWaitFor(ticked)) << window().writePanel().WriteCount();
    EXPECT_EQ(c().MSFlexGrid2->text(0, 1), QStringLiteral("当前值"));
}

TEST_P(WriteGrid, AnOpenEditorFreezesTheGridUntilEnter) {
    c().Text4->setText(QStringLiteral("3"));
    tick();
    clickCell(c().MSFlexGrid2, 1, 1);
    ASSERT_TRUE(c().Text5->isVisible());
    EXPECT_FALSE(c().Timer2->isActive());
    c().Text4->setText(QStringLiteral("5"));
    QTest::qWait(1200);  // a tick would have come by now
    EXPECT_EQ(c().MSFlexGrid2->rows(), 4);
    EXPECT_EQ(window().writePanel().WriteCount(), 3);
    QTest::keyClick(c().Text5, Qt::Key_Return);
    EXPECT_TRUE(c().Timer2->isActive());
    const auto grown = [&] { return c().MSFlexGrid2->rows() == 6; };
    EXPECT_TRUE(QTest::qWaitFor(grown)) << c().MSFlexGrid2->rows();
}

TEST_P(WriteGrid, TheTickLeavesTheLastAddressCellCurrent) {
    c().Text4->setText(QStringLiteral("3"));
    tick();
    FlexGrid* grid = c().MSFlexGrid2;
    clickCell(grid, 1, 1);
    QTest::keyClicks(c().Text5, QStringLiteral("7"));
    QTest::keyClick(c().Text5, Qt::Key_Return);
    ASSERT_TRUE(drawnHighlighted(grid, 1, 1));
    tick();
    EXPECT_EQ(grid->row(), 3);
    EXPECT_EQ(grid->col(), 2);
    EXPECT_TRUE(drawnHighlighted(grid, 3, 2));
    EXPECT_EQ(cellColour(grid, 1, 1), QColor(Qt::white));
}

INSTANTIATE_TEST_SUITE_P(Variants, WriteGrid, ::testing::Values(Variant::Word16, Variant::Long32),
                         [](const auto& p) {
                             return p.param == Variant::Word16 ? "Word16" : "Long32";
                         });

}  // namespace
}  // namespace bench::testing
