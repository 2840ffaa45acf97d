// SPDX-License-Identifier: MIT
#include "core/grid_layout.h"

#include <gtest/gtest.h>

#include "core/variant.h"
#include "param_name.h"

namespace bench {
namespace {

struct RowsCase {
    int32_t count;
    int32_t start;
    int step;
    std::vector<std::string> addresses;
};

class GridRows : public ::testing::TestWithParam<RowsCase> {};

TEST_P(GridRows, NumberAndAddressEachRow) {
    const RowsCase& r = GetParam();
    const std::vector<GridRow> rows = gridRows(r.count, r.start, r.step);
    ASSERT_EQ(rows.size(), r.addresses.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].number, std::to_string(i + 1));
        EXPECT_EQ(rows[i].address, r.addresses[i]);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, GridRows,
                         ::testing::Values(RowsCase{3, 100, 1, {"100", "101", "102"}},
                                           RowsCase{3, 100, 2, {"100", "102", "104"}},
                                           RowsCase{1, 0, 1, {"0"}}, RowsCase{0, 5, 1, {}},
                                           RowsCase{-3, 5, 1, {}},
                                           RowsCase{2, 65535, 2, {"65535", "65537"}},
                                           RowsCase{2, 2147483647, 2, {"2147483647", "2147483649"}},
                                           RowsCase{2, -5, 1, {"-5", "-4"}}),
                         [](const auto& p) {
                             return "Count_" + testnames::fromNumber(p.param.count) + "_Start_" +
                                    testnames::fromNumber(p.param.start) + "_Step_" +
                                    testnames::fromNumber(p.param.step);
                         });

TEST(GridRows, FullGridsEndPast65535WithoutWrapping) {
    EXPECT_EQ(gridRows(64, 65535, 1).back().address, "65598");
    EXPECT_EQ(gridRows(64, 65535, 2).back().address, "65661");
}

TEST(GridRowCount, HeaderPlusOneRowPerValue) {
    EXPECT_EQ(gridRowCount(3), 4);
    EXPECT_EQ(gridRowCount(64), 65);
    EXPECT_EQ(gridRowCount(0), 1);
    EXPECT_EQ(gridRowCount(-2), 1);
}

TEST(LeftBottomAlignment, OnlyTheAddressColumnHeaderAndCells) {
    EXPECT_TRUE(isLeftBottomAligned(0, 2, 3));
    EXPECT_TRUE(isLeftBottomAligned(3, 2, 3));
    EXPECT_FALSE(isLeftBottomAligned(4, 2, 3));
    EXPECT_FALSE(isLeftBottomAligned(0, 1, 3));
    EXPECT_FALSE(isLeftBottomAligned(2, 0, 3));
    EXPECT_FALSE(isLeftBottomAligned(0, 2, 0));
}

TEST(VariantFacts, DifferOnlyWhereTheWindowsDo) {
    const VariantFacts& w = variantFacts(Variant::Word16);
    const VariantFacts& l = variantFacts(Variant::Long32);
    EXPECT_EQ(w.addressStep, 1);
    EXPECT_EQ(l.addressStep, 2);
    EXPECT_EQ(w.clientWidthTwips, 14265);
    EXPECT_EQ(l.clientWidthTwips, 14175);
    EXPECT_EQ(w.clientHeightTwips, l.clientHeightTwips);
    EXPECT_STREQ(w.readFunction, "Get_4X_DX");
    EXPECT_STREQ(l.writeFunction, "Set_4X_LDX");
    EXPECT_EQ(w.installNote, l.installNote + "注意MODBUS 地址加一");
}

}  // namespace
}  // namespace bench
