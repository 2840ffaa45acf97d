// SPDX-License-Identifier: MIT
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
    EXPECT_TRUE(grid.isCell(0, 0));
    EXPECT_TRUE(grid.isCell(3, 2));
    EXPECT_FALSE(grid.isCell(4, 1));
    EXPECT_FALSE(grid.isCell(1, 3));
    EXPECT_FALSE(grid.isCell(-1, 0));
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

// The grid as drawn in the window: grey beyond the last cell, light grey lines
// between normal cells, black lines between fixed cells, before and after a layout.
class GridColours : public WindowTest, public ::testing::WithParamInterface<Variant> {
  protected:
    struct Drawn {
        QImage image;
        QColor at(QPoint p) const { return image.pixelColor(p); }
    };
    static Drawn draw(FlexGrid* grid) { return {grid->grab().toImage()}; }
};

TEST_P(GridColours, AreDrawnAsDesigned) {
    open(GetParam());
    const QColor grey(128, 128, 128), lightGrey(192, 192, 192), black(0, 0, 0);
    for (bool laidOut : {false, true}) {
        if (laidOut) {
            c().Text1->setText(QStringLiteral("3"));
            click(c().Command3);
        }
        FlexGrid* grid = c().MSFlexGrid1;
        const Drawn drawn = draw(grid);
        const QRect last = grid->cellRect(grid->rows() - 1, grid->cols() - 1, grid);
        const QRect first = grid->cellRect(1, 1, grid);
        const int inner = grid->width() - grid->frameWidth() - 3;  // inside the frame
        const int headerMiddle = first.top() / 2;
        const int numberMiddle = first.left() / 2;
        SCOPED_TRACE(laidOut ? "laid out" : "as created");
        // Beyond the last cell: in the header strips and in the cell area.
        EXPECT_EQ(drawn.at({inner, headerMiddle}), grey);
        EXPECT_EQ(drawn.at({numberMiddle, grid->height() - 6}), grey);
        EXPECT_EQ(drawn.at({inner, grid->height() - 6}), grey);
        ASSERT_LT(last.right() + 2, inner);
        // Lines between normal cells (a cell's rectangle ends before its line).
        EXPECT_EQ(drawn.at({first.right() + 1, first.center().y()}), lightGrey);
        EXPECT_EQ(drawn.at({first.center().x(), first.bottom() + 1}), lightGrey);
        // Lines between fixed cells, and their face.
        EXPECT_EQ(drawn.at({first.right() + 1, headerMiddle}), black);
        EXPECT_EQ(drawn.at({first.center().x(), first.top() - 1}), black);
        EXPECT_EQ(drawn.at({first.left() - 1, first.center().y()}), black);
        EXPECT_EQ(drawn.at({numberMiddle, first.bottom() + 1}), black);
        EXPECT_EQ(drawn.at({first.left() - 1, headerMiddle}), black);  // the corner cell
        EXPECT_EQ(drawn.at({first.right() - 2, first.top() - 3}),
                  grid->palette().color(QPalette::Button));
        // A single border with a three-dimensional look: two pixels, sunken.
        auto role = [grid](QPalette::ColorRole r) { return grid->palette().color(r).rgb(); };
        auto at = [&drawn](int x, int y) { return drawn.at({x, y}).rgb(); };
        const int midX = grid->width() / 2;
        const int midY = grid->height() / 2;
        const int right = grid->width() - 1;
        const int bottom = grid->height() - 1;
        EXPECT_EQ(at(0, midY), role(QPalette::Dark));
        EXPECT_EQ(at(1, midY), role(QPalette::Shadow));
        EXPECT_EQ(at(midX, 0), role(QPalette::Dark));
        EXPECT_EQ(at(midX, 1), role(QPalette::Shadow));
        EXPECT_EQ(at(right, midY), role(QPalette::Light));
        EXPECT_EQ(at(right - 1, midY), role(QPalette::Midlight));
        EXPECT_EQ(at(midX, bottom), role(QPalette::Light));
        EXPECT_EQ(at(midX, bottom - 1), role(QPalette::Midlight));
    }
}

INSTANTIATE_TEST_SUITE_P(Variants, GridColours, ::testing::Values(Variant::Word16, Variant::Long32),
                         [](const auto& p) {
                             return p.param == Variant::Word16 ? "Word16" : "Long32";
                         });

}  // namespace
}  // namespace bench::testing
