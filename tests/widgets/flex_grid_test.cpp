// The grid addressed as the tests think of it: row 0 and column 0 are fixed.
#include "window_fixture.h"

namespace bench::testing {
namespace {

TEST(FlexGrid, FixedAndDataCellsHoldTheirTexts) {
    FlexGrid grid;
    grid.setRows(4);
    EXPECT_EQ(grid.rows(), 4);
    EXPECT_EQ(grid.cols(), 3);
    grid.setText(0, 0, QStringLiteral("编号"));
    grid.setText(0, 2, QStringLiteral("寄存器地址"));
    grid.setText(3, 0, QStringLiteral("3"));
    grid.setText(3, 1, QStringLiteral("-7"));
    EXPECT_EQ(grid.text(0, 0), QStringLiteral("编号"));
    EXPECT_EQ(grid.text(0, 2), QStringLiteral("寄存器地址"));
    EXPECT_EQ(grid.text(3, 0), QStringLiteral("3"));
    EXPECT_EQ(grid.text(3, 1), QStringLiteral("-7"));
    // Cells outside the grid are ignored, not created.
    grid.setText(4, 1, QStringLiteral("x"));
    EXPECT_EQ(grid.text(4, 1), QString());
    EXPECT_EQ(grid.rows(), 4);
}

TEST(FlexGrid, ShrinkingAndGrowingEmptiesNewRows) {
    FlexGrid grid;
    grid.setRows(3);
    grid.setText(2, 0, QStringLiteral("2"));
    grid.setText(2, 1, QStringLiteral("9"));
    grid.setRows(2);
    grid.setRows(3);
    EXPECT_EQ(grid.text(2, 0), QString());
    EXPECT_EQ(grid.text(2, 1), QString());
}

TEST(FlexGrid, GeneralAlignmentPutsNumbersRight) {
    EXPECT_EQ(generalAlignment(QStringLiteral("-12")), Qt::AlignRight | Qt::AlignVCenter);
    EXPECT_EQ(generalAlignment(QStringLiteral("2.5")), Qt::AlignRight | Qt::AlignVCenter);
    EXPECT_EQ(generalAlignment(QStringLiteral("编号")), Qt::AlignLeft | Qt::AlignVCenter);
    EXPECT_EQ(generalAlignment(QString()), Qt::AlignLeft | Qt::AlignVCenter);

    FlexGrid grid;
    grid.setText(1, 1, QStringLiteral("42"));
    EXPECT_EQ(grid.cellAlignment(1, 1), Qt::AlignRight | Qt::AlignVCenter);
    grid.setCellAlignment(1, 2, Qt::AlignLeft | Qt::AlignBottom);
    grid.setText(1, 2, QStringLiteral("100"));
    EXPECT_EQ(grid.cellAlignment(1, 2), Qt::AlignLeft | Qt::AlignBottom);
}

}  // namespace
}  // namespace bench::testing
