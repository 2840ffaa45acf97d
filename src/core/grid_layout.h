// SPDX-License-Identifier: MIT
// What the read and write grids show after they are laid out: a header row, and
// per value a row with its running number, its value and its register address.
// Rows and columns are counted as the grid counts them: row 0 and column 0 are
// the fixed header row and number column.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace bench {

inline constexpr int kGridColumns = 3;
inline constexpr std::array<int, kGridColumns> kGridColumnWidthsTwips{1600, 2460, 2460};
inline constexpr std::array<const char*, kGridColumns> kGridHeaders{"编号", "当前值", "寄存器地址"};

// Largest count either test accepts; the read and write tests replace larger ones.
inline constexpr int kMaxValues = 64;

struct GridRow {
    std::string number;   // column 0
    std::string address;  // column 2
};

// Number and address labels of data rows 1..count. Addresses step by `addressStep`
// registers from `start` without wrapping at 65535.
std::vector<GridRow> gridRows(int32_t count, int32_t start, int addressStep);

// Rows of the grid for `count` values, the header row included.
int gridRowCount(int32_t count);

// Cells aligned left-bottom after a layout: the column-2 header and the address
// cells. Every other cell keeps the grid's own alignment.
bool isLeftBottomAligned(int row, int column, int32_t count);

}  // namespace bench
