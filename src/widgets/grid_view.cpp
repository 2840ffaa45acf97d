// SPDX-License-Identifier: MIT
#include "widgets/grid_view.h"

#include <QColor>
#include <algorithm>

#include "core/grid_layout.h"

namespace bench {
namespace {

// Values the last read could not refresh.
const QColor kStaleInk(128, 128, 128);

}  // namespace

void layOutGrid(FlexGrid& grid, int32_t count, int32_t start, int addressStep,
                const std::function<QString(int row)>& valueText) {
    grid.setRows(gridRowCount(count));
    grid.setWordWrap(true);
    for (int col = 0; col < kGridColumns; ++col) {
        grid.setColWidthTwips(col, kGridColumnWidthsTwips[static_cast<std::size_t>(col)]);
        grid.setText(0, col, QString::fromUtf8(kGridHeaders[static_cast<std::size_t>(col)]));
    }
    const std::vector<GridRow> rows = gridRows(count, start, addressStep);
    for (int row = 1; row <= static_cast<int>(rows.size()); ++row) {
        const GridRow& labels = rows[static_cast<std::size_t>(row - 1)];
        grid.setText(row, 0, QString::fromStdString(labels.number));
        grid.setText(row, 1, valueText(row));
        grid.setText(row, 2, QString::fromStdString(labels.address));
    }
    for (int row = 0; row < grid.rows(); ++row) {
        if (isLeftBottomAligned(row, 2, count)) {
            grid.setCellAlignment(row, 2, Qt::AlignLeft | Qt::AlignBottom);
        }
    }
    // The last cell written, the address of the last row, is left current.
    if (!rows.empty()) grid.setCurrent(static_cast<int>(rows.size()), 2);
}

void markValueCells(FlexGrid& grid, int32_t count, const QString& toolTip) {
    const bool stale = !toolTip.isEmpty();
    const int last = std::min<int>(count, grid.rows() - 1);
    for (int row = 1; row <= last; ++row) {
        // Fresh values take the grid's own text colour again.
        grid.setCellInk(row, 1, stale ? kStaleInk : QColor());
        grid.setCellToolTip(row, 1, toolTip);
    }
}

}  // namespace bench
