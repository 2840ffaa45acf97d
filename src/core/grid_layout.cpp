// SPDX-License-Identifier: MIT
#include "core/grid_layout.h"

#include <algorithm>

#include "core/numbers.h"

namespace bench {

std::vector<GridRow> gridRows(int32_t count, int32_t start, int addressStep) {
    std::vector<GridRow> rows;
    rows.reserve(static_cast<std::size_t>(std::max(count, 0)));
    for (int32_t i = 1; i <= count; ++i) {
        const int64_t address = int64_t{start} + int64_t{addressStep} * (i - 1);
        rows.push_back({decimalText(i), decimalText(address)});
    }
    return rows;
}

int gridRowCount(int32_t count) {
    return std::max(count, 0) + 1;
}

bool isLeftBottomAligned(int row, int column, int32_t count) {
    return count >= 1 && column == 2 && row >= 0 && row <= count;
}

}  // namespace bench
