// SPDX-License-Identifier: MIT
// Applies a grid layout (header row, numbers, register addresses, alignment) to a
// grid. The read and the write grid share it; only the value column differs.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>

#include "widgets/flex_grid.h"

namespace bench {

// Leaves the address cell of the last data row current.
// `valueText(row)` gives the text of the value cell of data row `row` (1-based).
void layOutGrid(FlexGrid& grid, int32_t count, int32_t start, int addressStep,
                const std::function<QString(int row)>& valueText);

// Draws the value cells of rows 1 .. `count` in grey with `toolTip` when the read
// that wrote them failed (`toolTip` not empty), in black without one otherwise.
void markValueCells(FlexGrid& grid, int32_t count, const QString& toolTip);

}  // namespace bench
