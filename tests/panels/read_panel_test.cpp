// SPDX-License-Identifier: MIT
// Start reading lays out the read grid; each tick makes one driver call and
// writes the values into the value column.
#include <QHeaderView>
#include <QRegularExpression>

#include "param_name.h"
#include "regwire.h"
#include "window_fixture.h"

namespace bench::testing {
namespace {

using Calls = std::vector<std::string>;
using Row = std::vector<std::string>;

const Qt::Alignment kLeftBottom = Qt::AlignLeft | Qt::AlignBottom;

struct LayoutCase {
    Variant variant;
    const char* count;
    const char* start;
    int rows;     // grid rows, the header included
    Row lastRow;  // texts of the last data row
    const char* firstAddress;
};

class ReadLayout : public WindowTest, public ::testing::WithParamInterface<LayoutCase> {};

TEST_P(ReadLayout, NumbersAndAddressesEachRow) {
    const LayoutCase& l = GetParam();
    open(l.variant);
    c().Text1->setText(QString::fromUtf8(l.count));
    c().Text2->setText(QString::fromUtf8(l.start));
    click(c().Command3);
    FlexGrid* grid = c().MSFlexGrid1;
    ASSERT_EQ(grid->rows(), l.rows);
    EXPECT_EQ(rowTexts(grid, 0), (Row{"编号", "当前值", "寄存器地址"}));
    EXPECT_EQ(rowTexts(grid, l.rows - 1), l.lastRow);
    EXPECT_EQ(grid->text(1, 2).toStdString(), l.firstAddress);
    EXPECT_TRUE(c().Timer1->isActive());
    // Start reading itself calls no driver function.
    EXPECT_TRUE(recording().takeCalls().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReadLayout,
    ::testing::Values(LayoutCase{Variant::Word16, "3", "100", 4, {"3", "", "102"}, "100"},
                      LayoutCase{Variant::Long32, "3", "100", 4, {"3", "", "104"}, "100"},
                      LayoutCase{Variant::Word16, "1", "0", 2, {"1", "", "0"}, "0"},
                      LayoutCase{Variant::Word16, "64", "65535", 65, {"64", "", "65598"}, "65535"},
                      LayoutCase{Variant::Long32, "64", "65535", 65, {"64", "", "65661"}, "65535"},
                      LayoutCase{Variant::Word16, "2", "12.5", 3, {"2", "", "13"}, "12"},
                      LayoutCase{Variant::Long32, "2", "13.5", 3, {"2", "", "16"}, "14"},
                      LayoutCase{Variant::Word16, "2.5", "7", 3, {"2", "", "8"}, "7"}),
    [](const auto& p) {
        return std::string(p.param.variant == Variant::Word16 ? "Word16" : "Long32") + "_Count_" +
               testnames::fromText(p.param.count) + "_Start_" + testnames::fromText(p.param.start);
    });

TEST_F(WindowTest, ColumnWidthsAndAlignmentOfTheReadGrid) {
    open(Variant::Word16);
    c().Text1->setText(QStringLiteral("3"));
    click(c().Command3);
    FlexGrid* grid = c().MSFlexGrid1;
    EXPECT_EQ(grid->verticalHeader()->width(), 107);  // 1600 twips
    EXPECT_EQ(grid->columnWidth(0), 164);             // 2460 twips
    EXPECT_EQ(grid->columnWidth(1), 164);
    EXPECT_TRUE(grid->wordWrap());
    for (int row = 0; row <= 3; ++row) {
        EXPECT_EQ(grid->cellAlignment(row, 2), kLeftBottom) << "row " << row;
        EXPECT_NE(grid->cellAlignment(row, 1), kLeftBottom) << "row " << row;
        EXPECT_NE(grid->cellAlignment(row, 0), kLeftBottom) << "row " << row;
    }
}

TEST_F(WindowTest, ACountAbove64ReachingStartReadingBecomes32) {
    open(Variant::Word16);
    // The entry rule keeps typed counts in range; a program-set text may still be larger.
    c().Text1->blockSignals(true);
    c().Text1->setText(QStringLiteral("80"));
    c().Text1->blockSignals(false);
    click(c().Command3);
    EXPECT_EQ(c().Text1->text(), QStringLiteral("32"));
    EXPECT_EQ(window().readPanel().ReadCount(), 32);
    EXPECT_EQ(c().MSFlexGrid1->rows(), 33);
}

TEST_F(WindowTest, ASecondPressLaysTheGridOutAfreshWithOneTimer) {
    open(Variant::Word16);
    recording().takeCalls();
    c().Text1->setText(QStringLiteral("10"));
    click(c().Command3);
    window().readPanel().Timer1_Timer();
    ASSERT_EQ(c().MSFlexGrid1->text(10, 1), QStringLiteral("0"));
    c().Text1->setText(QStringLiteral("5"));
    click(c().Command3);
    click(c().Command3);
    EXPECT_EQ(c().MSFlexGrid1->rows(), 6);
    for (int row = 1; row <= 5; ++row) EXPECT_EQ(c().MSFlexGrid1->text(row, 1), QString());
    EXPECT_EQ(window().findChildren<QTimer*>().size(), 2);
    EXPECT_TRUE(c().Timer1->isActive());
}

class ReadTick : public WindowTest, public ::testing::WithParamInterface<Variant> {
  protected:
    void SetUp() override { open(GetParam()); }
    const char* function() const {
        return GetParam() == Variant::Word16 ? "Get_4X_DX" : "Get_4X_LDX";
    }
    std::string call(const char* args) const { return std::string(function()) + " " + args; }
};

TEST_P(ReadTick, CallsTheDriverOnceWithPortStationStartAndCount) {
    c().Combo1->setEditText(QStringLiteral("2 "));
    c().Combo2->setEditText(QStringLiteral("17 "));
    click(c().Command9);
    c().Text1->setText(QStringLiteral("5"));
    c().Text2->setText(QStringLiteral("100"));
    click(c().Command3);
    recording().takeCalls();
    recording().setReadValues({-1, 0, 32767, -32768, 2147483647, 99});
    window().readPanel().Timer1_Timer();
    EXPECT_EQ(recording().takeCalls(), Calls{call("2 17 100 5")});
    EXPECT_EQ(state().PortSettings[kReadStart], 100);
    FlexGrid* grid = c().MSFlexGrid1;
    EXPECT_EQ(rowTexts(grid, 1), (Row{"1", "-1", "100"}));
    EXPECT_EQ(grid->text(2, 1), QStringLiteral("0"));
    EXPECT_EQ(grid->text(4, 1), QStringLiteral("-32768"));
    EXPECT_EQ(grid->text(5, 1), QStringLiteral("2147483647"));
    EXPECT_EQ(state().ReadValues[5], 0) << "the driver was asked for 5 values only";
}

TEST_P(ReadTick, ShowsTheDateAndTimeOfThePoll) {
    click(c().Command3);
    window().readPanel().Timer1_Timer();
    static const QRegularExpression date(QStringLiteral(R"(^\d\d-\d\d-\d{4}$)"));
    static const QRegularExpression time(QStringLiteral(R"(^([01]\d|2[0-3]):[0-5]\d:[0-5]\d$)"));
    EXPECT_TRUE(date.match(c().Label2_9->text()).hasMatch()) << c().Label2_9->text().toStdString();
    EXPECT_TRUE(time.match(c().Label2_10->text()).hasMatch())
        << c().Label2_10->text().toStdString();
    const QDate today = QDate::currentDate();
    const QDate shown = QDate::fromString(c().Label2_9->text(), QStringLiteral("MM-dd-yyyy"));
    EXPECT_LE(std::abs(shown.daysTo(today)), 1);
}

TEST_P(ReadTick, TheStartAddressIsTakenFromText2OnEveryTick) {
    c().Text1->setText(QStringLiteral("3"));
    c().Text2->setText(QStringLiteral("100"));
    click(c().Command3);
    window().readPanel().Timer1_Timer();
    c().Text2->setText(QStringLiteral("200"));
    c().Text1->setText(QStringLiteral("7"));  // the count waits for Start reading
    recording().takeCalls();
    window().readPanel().Timer1_Timer();
    EXPECT_EQ(recording().takeCalls(), Calls{call("0 0 200 3")});
    EXPECT_EQ(c().MSFlexGrid1->text(1, 2), QStringLiteral("100"));
    EXPECT_EQ(c().MSFlexGrid1->rows(), 4);
}

TEST_P(ReadTick, ReadingWithThePortNeverOpenedStillCallsTheDriver) {
    click(c().Command3);
    window().readPanel().Timer1_Timer();
    EXPECT_EQ(recording().takeCalls(), Calls{call("0 0 1 1")});
}

TEST_P(ReadTick, CloseStopsTheTicksAndOpenDoesNotRestartThem) {
    click(c().Command3);
    ASSERT_TRUE(c().Timer1->isActive());
    click(c().Command10);
    EXPECT_FALSE(c().Timer1->isActive());
    click(c().Command9);
    EXPECT_FALSE(c().Timer1->isActive());
}

TEST_P(ReadTick, TheTimerDrivesTheTicks) {
    c().Text1->setText(QStringLiteral("2"));
    click(c().Command3);
    recording().takeCalls();
    recording().setReadValues({41, 42});
    const auto shown = [&] { return c().MSFlexGrid1->text(2, 1) == QStringLiteral("42"); };
    EXPECT_TRUE(QTest::qWaitFor(shown)) << c().MSFlexGrid1->text(2, 1).toStdString();
    const Calls calls = recording().takeCalls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.front(), call("0 0 1 2"));
}

// The colour a value cell is drawn in, and its tooltip.
std::pair<QColor, QString> valueLook(FlexGrid* grid, int row) {
    return {grid->cellInk(row, 1), grid->cellToolTip(row, 1)};
}

TEST_P(ReadTick, AFailedReadLooksStaleUntilTheNextGoodOne) {
    c().Text1->setText(QStringLiteral("2"));
    click(c().Command3);
    recording().setReadValues({41, 42});
    recording().setResult(REGWIRE_ENOTOPEN);
    recording().setFailureDetail("port 0: not open");
    FlexGrid* grid = c().MSFlexGrid1;
    const QColor grey(128, 128, 128);
    const QColor black(0, 0, 0);
    for (const char* lastGood :
         {static_cast<const char*>("从未"), static_cast<const char*>(nullptr)}) {
        window().readPanel().Timer1_Timer();
        for (int row = 1; row <= 2; ++row) {
            const auto [ink, tip] = valueLook(grid, row);
            EXPECT_EQ(ink, grey);
            EXPECT_TRUE(tip.startsWith(QStringLiteral("读取端口 0 失败：端口未打开。")))
                << tip.toStdString();
            EXPECT_TRUE(tip.contains(QStringLiteral("port 0: not open")));
            // "never" before the first good read, its date and time after it.
            const QString expected =
                lastGood != nullptr ? QString::fromUtf8(lastGood) : c().Label2_9->text();
            EXPECT_TRUE(tip.contains(QStringLiteral("上次成功读取：") + expected))
                << tip.toStdString();
        }
        // The tick still wrote what the buffer holds, and keeps polling without a notice.
        EXPECT_EQ(grid->text(2, 1), QStringLiteral("42"));
        EXPECT_TRUE(c().Timer1->isActive());
        EXPECT_EQ(messageBoxes(), 0);

        recording().setResult(REGWIRE_OK);
        window().readPanel().Timer1_Timer();
        for (int row = 1; row <= 2; ++row)
            EXPECT_EQ(valueLook(grid, row), std::make_pair(black, QString()));
        recording().setResult(REGWIRE_ENOTOPEN);
    }
}

TEST_P(ReadTick, LeavesTheLastValueWrittenCurrent) {
    c().Text1->setText(QStringLiteral("3"));
    click(c().Command3);
    FlexGrid* grid = c().MSFlexGrid1;
    EXPECT_EQ(grid->row(), 3);  // Start reading ends on the last address
    EXPECT_EQ(grid->col(), 2);
    clickCell(grid, 1, 1);
    ASSERT_TRUE(drawnHighlighted(grid, 1, 1));
    window().readPanel().Timer1_Timer();
    EXPECT_EQ(grid->row(), 3);
    EXPECT_EQ(grid->col(), 1);
    EXPECT_TRUE(drawnHighlighted(grid, 3, 1));
    EXPECT_EQ(cellColour(grid, 1, 1), QColor(Qt::white));
}

// The darkest pixel of a cell as drawn: the core of its text, or its background.
QColor darkestPixel(FlexGrid* grid, int row, int col) {
    const QImage image = grid->grab().toImage();
    const QRect cell = grid->cellRect(row, col, grid);
    QColor darkest(Qt::white);
    for (int y = cell.top(); y <= cell.bottom(); ++y) {
        for (int x = cell.left(); x <= cell.right(); ++x) {
            const QColor shown = image.pixelColor(x, y);
            if (shown.lightness() < darkest.lightness()) darkest = shown;
        }
    }
    return darkest;
}

// Whether a colour is a grey (the stale ink, antialiased), neither white nor a hue.
bool greyish(const QColor& colour) {
    const int high = std::max({colour.red(), colour.green(), colour.blue()});
    const int low = std::min({colour.red(), colour.green(), colour.blue()});
    return high - low <= 24 && high <= 200;
}

// On a one-value read the only value cell is the current one: a failed read shows
// there too, and its tooltip names the registers of the last good read, which the
// start address in Text2 no longer gives.
TEST_P(ReadTick, AStaleValueShowsOnTheCurrentCellToo) {
    c().Text2->setText(QStringLiteral("100"));
    click(c().Command3);
    FlexGrid* grid = c().MSFlexGrid1;
    window().readPanel().Timer1_Timer();
    ASSERT_EQ(grid->row(), 1);
    ASSERT_EQ(grid->col(), 1);
    EXPECT_TRUE(drawnHighlighted(grid, 1, 1));
    EXPECT_FALSE(greyish(darkestPixel(grid, 1, 1)));

    c().Text2->setText(QStringLiteral("200"));
    recording().setResult(REGWIRE_ETIMEOUT);
    window().readPanel().Timer1_Timer();
    EXPECT_FALSE(drawnHighlighted(grid, 1, 1));
    EXPECT_TRUE(greyish(darkestPixel(grid, 1, 1))) << darkestPixel(grid, 1, 1).name().toStdString();
    const QString tip = grid->cellToolTip(1, 1);
    const QString registers = GetParam() == Variant::Word16 ? QStringLiteral("寄存器 100\n")
                                                            : QStringLiteral("寄存器 100..101\n");
    EXPECT_TRUE(tip.contains(QStringLiteral("，") + registers)) << tip.toStdString();

    recording().setResult(REGWIRE_OK);
    window().readPanel().Timer1_Timer();
    EXPECT_TRUE(drawnHighlighted(grid, 1, 1));
}

INSTANTIATE_TEST_SUITE_P(Variants, ReadTick, ::testing::Values(Variant::Word16, Variant::Long32),
                         [](const auto& p) {
                             return p.param == Variant::Word16 ? "Word16" : "Long32";
                         });

}  // namespace
}  // namespace bench::testing
