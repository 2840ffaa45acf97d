// SPDX-License-Identifier: MIT
// The in-cell editor: a click on a value cell opens it over the cell, Enter
// stores the number, nothing else commits or closes it.
#include <QScrollBar>
#include <QSignalSpy>
#include <QWheelEvent>

#include "param_name.h"
#include "window_fixture.h"

namespace bench::testing {
namespace {

class CellEditor : public WindowTest {
  protected:
    void SetUp() override {
        open(Variant::Word16);
        c().Text4->setText(QStringLiteral("3"));
        window().writePanel().Timer2_Timer();
    }
    void enter(const QString& text) {
        QTest::keyClick(c().Text5, Qt::Key_A, Qt::ControlModifier);
        if (text.isEmpty()) {
            QTest::keyClick(c().Text5, Qt::Key_Delete);
        } else {
            QTest::keyClicks(c().Text5, text);
        }
        QTest::keyClick(c().Text5, Qt::Key_Return);
    }
    // Pixels of the window drawn in the editor's pink.
    QList<QPoint> pinkPixels() {
        const QImage image = window().grab().toImage();
        QList<QPoint> pink;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                if (image.pixelColor(x, y) == QColor(255, 192, 192)) pink.append({x, y});
            }
        }
        return pink;
    }
    // Whether the editor is drawn over the shown part of a value cell, and nowhere else.
    bool editorDrawnOver(int row) {
        const QRect shown = c().MSFlexGrid2->shownCellRect(row, 1, &window());
        const QList<QPoint> pink = pinkPixels();
        return !pink.isEmpty() && std::all_of(pink.begin(), pink.end(),
                                              [&](const QPoint& p) { return shown.contains(p); });
    }
    void turnWheel(FlexGrid* grid, int notches) {
        const QPointF at = grid->viewport()->rect().center();
        QWheelEvent wheel(at, grid->viewport()->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(grid->viewport(), &wheel);
    }
};

TEST_F(CellEditor, OpensExactlyOverTheClickedValueCell) {
    clickCell(c().MSFlexGrid2, 2, 1);
    ASSERT_TRUE(c().Text5->isVisible());
    EXPECT_EQ(c().Text5->geometry(), c().MSFlexGrid2->cellRect(2, 1, &window()));
    EXPECT_EQ(c().Text5->text(), QStringLiteral("0"));
    EXPECT_EQ(c().Text5->selectedText(), QStringLiteral("0"));
    EXPECT_TRUE(c().Text5->hasFocus());
    EXPECT_FALSE(c().Timer2->isActive());
    EXPECT_EQ(window().writePanel().EditRow(), 2);
    EXPECT_EQ(window().writePanel().EditCol(), 1);
    // The grid's frame is accounted for: the editor starts inside the grid's border.
    EXPECT_GT(c().Text5->x(), c().MSFlexGrid2->x() + c().MSFlexGrid2->frameWidth());
}

// Whatever scrolls the grid, the editor stays over the cell whose row takes the value.
TEST_F(CellEditor, StaysOverItsCellWhileTheGridScrolls) {
    c().Text4->setText(QStringLiteral("64"));
    window().writePanel().Timer2_Timer();
    FlexGrid* grid = c().MSFlexGrid2;
    int cut = 1;  // the first row the grid's bottom edge cuts
    while (grid->shownCellRect(cut, 1, grid) == grid->cellRect(cut, 1, grid)) ++cut;
    const QRect half = grid->shownCellRect(cut, 1, grid->viewport());
    ASSERT_FALSE(half.isEmpty());
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, half.center());
    ASSERT_TRUE(c().Text5->isVisible());
    ASSERT_EQ(window().writePanel().EditRow(), cut);
    // Qt scrolls to a pressed cell a moment after the press.
    QTest::qWait(QApplication::doubleClickInterval() + 300);
    EXPECT_TRUE(editorDrawnOver(cut));
    EXPECT_EQ(grid->shownCellRect(cut, 1, grid), grid->cellRect(cut, 1, grid));

    const int top = grid->verticalScrollBar()->value();
    turnWheel(grid, -1);
    ASSERT_GT(grid->verticalScrollBar()->value(), top);
    EXPECT_TRUE(editorDrawnOver(cut));
    // Scrolled out of view, the editor shows nowhere, and comes back with its cell.
    grid->verticalScrollBar()->triggerAction(QAbstractSlider::SliderToMaximum);
    ASSERT_TRUE(grid->shownCellRect(cut, 1, grid).isEmpty());
    EXPECT_TRUE(pinkPixels().isEmpty());
    grid->verticalScrollBar()->triggerAction(QAbstractSlider::SliderToMinimum);
    EXPECT_TRUE(editorDrawnOver(cut));

    enter(QStringLiteral("999"));
    EXPECT_EQ(state().WriteValues[static_cast<std::size_t>(cut - 1)], 999);
    EXPECT_EQ(state().WriteValues[static_cast<std::size_t>(cut)], 0);
}

// A tick of the write grid between the press and the release makes another cell
// current; the click still opens the editor on the cell it was made on.
TEST_F(CellEditor, OpensOnTheClickedCellWhenATickFallsWithinTheClick) {
    FlexGrid* grid = c().MSFlexGrid2;
    const QPoint at = grid->cellRect(2, 1, grid->viewport()).center();
    QSignalSpy ticks(c().Timer2, &QTimer::timeout);
    QTest::mousePress(grid->viewport(), Qt::LeftButton, {}, at);
    ASSERT_TRUE(ticks.wait(5000));
    ASSERT_EQ(grid->row(), 3);  // the tick left the last address current
    QTest::mouseRelease(grid->viewport(), Qt::LeftButton, {}, at);
    ASSERT_TRUE(c().Text5->isVisible());
    EXPECT_EQ(window().writePanel().EditRow(), 2);
    EXPECT_EQ(c().Text5->geometry(), grid->cellRect(2, 1, &window()));
    EXPECT_EQ(grid->row(), 2);
    EXPECT_EQ(grid->col(), 1);
}

TEST_F(CellEditor, TypingAndEnterStoresTheValue) {
    clickCell(c().MSFlexGrid2, 2, 1);
    QTest::keyClicks(c().Text5, QStringLiteral("250"));
    QTest::keyClick(c().Text5, Qt::Key_Return);
    EXPECT_EQ(state().WriteValues[1], 250);
    EXPECT_FALSE(c().Text5->isVisible());
    EXPECT_TRUE(c().Timer2->isActive());
    EXPECT_EQ(c().MSFlexGrid2->text(2, 1), QStringLiteral("250"));
    window().writePanel().Timer2_Timer();
    EXPECT_EQ(c().MSFlexGrid2->text(2, 1), QStringLiteral("250"));
}

TEST_F(CellEditor, AClickOutsideTheValueColumnDoesNothing) {
    clickCell(c().MSFlexGrid2, 2, 2);
    EXPECT_FALSE(c().Text5->isVisible());
    EXPECT_TRUE(c().Timer2->isActive());
    EXPECT_EQ(window().writePanel().EditCol(), 0);
}

struct EntryCase {
    const char* typed;
    int32_t stored;
};

class EditorEntries : public CellEditor, public ::testing::WithParamInterface<EntryCase> {};

TEST_P(EditorEntries, StoreTheLeadingNumberRoundedHalfToEven) {
    state().WriteValues[0] = 1234;
    window().writePanel().Timer2_Timer();
    clickCell(c().MSFlexGrid2, 1, 1);
    enter(QString::fromUtf8(GetParam().typed));
    EXPECT_EQ(state().WriteValues[0], GetParam().stored) << GetParam().typed;
    EXPECT_FALSE(c().Text5->isVisible());
    EXPECT_EQ(c().MSFlexGrid2->text(1, 1).toInt(), GetParam().stored);
}

INSTANTIATE_TEST_SUITE_P(Texts, EditorEntries,
                         ::testing::Values(EntryCase{"", 0}, EntryCase{"12abc", 12},
                                           EntryCase{"-5", -5}, EntryCase{"2.5", 2},
                                           EntryCase{"3.5", 4}, EntryCase{"99999999999", 1234},
                                           EntryCase{"-2147483648", -2147483647 - 1},
                                           EntryCase{"70000", 70000}, EntryCase{"&HFF", 255}),
                         [](const auto& p) { return testnames::fromText(p.param.typed); });

TEST_F(CellEditor, MovingToAnotherCellDropsTheUncommittedText) {
    state().WriteValues[2] = 33;
    window().writePanel().Timer2_Timer();
    clickCell(c().MSFlexGrid2, 1, 1);
    QTest::keyClicks(c().Text5, QStringLiteral("77"));
    clickCell(c().MSFlexGrid2, 3, 1);
    EXPECT_EQ(state().WriteValues[0], 0);
    EXPECT_TRUE(c().Text5->isVisible());
    EXPECT_EQ(c().Text5->text(), QStringLiteral("33"));
    EXPECT_EQ(c().Text5->geometry(), c().MSFlexGrid2->cellRect(3, 1, &window()));
    EXPECT_EQ(window().writePanel().EditRow(), 3);
}

TEST_F(CellEditor, OtherKeysNeitherCommitNorClose) {
    clickCell(c().MSFlexGrid2, 1, 1);
    QTest::keyClicks(c().Text5, QStringLiteral("9"));
    for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Tab, Qt::Key_Up, Qt::Key_Down, Qt::Key_Space}) {
        QTest::keyClick(c().Text5, key);
        EXPECT_TRUE(c().Text5->isVisible()) << key;
        EXPECT_EQ(state().WriteValues[0], 0) << key;
    }
    // Neither a click elsewhere in the window nor the loss of focus closes it.
    click(c().Command3);
    EXPECT_TRUE(c().Text5->isVisible());
    clickCell(c().MSFlexGrid2, 2, 2);
    EXPECT_TRUE(c().Text5->isVisible());
    EXPECT_EQ(state().WriteValues[0], 0);
    EXPECT_FALSE(c().Timer2->isActive());
}

TEST_F(CellEditor, EnterOnTheKeypadCommitsToo) {
    clickCell(c().MSFlexGrid2, 3, 1);
    QTest::keyClicks(c().Text5, QStringLiteral("-12"));
    QTest::keyClick(c().Text5, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(state().WriteValues[2], -12);
}

}  // namespace
}  // namespace bench::testing
