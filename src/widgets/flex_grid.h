// SPDX-License-Identifier: MIT
// A grid with one fixed header row and one fixed number column, addressed the
// way the read and write tests think of it: row 0 is the header row, column 0 the
// number column, data cells start at (1, 1). The fixed row and column stay in
// place while the data cells scroll. The grid takes no typed input. Cells are reached
// through the functions below, in those terms; Qt's items and its own coordinates,
// which count neither the fixed row nor the fixed column, stay inside.
#pragma once

#include <QLabel>
#include <QTableWidget>

namespace bench {

class FlexGrid : public QTableWidget {
    Q_OBJECT
  public:
    explicit FlexGrid(QWidget* parent = nullptr);

    // Rows and columns including the fixed ones (at least 1 each).
    int rows() const { return rowCount() + 1; }
    void setRows(int rows);
    int cols() const { return columnCount() + 1; }
    void setCols(int cols);

    void setColWidthTwips(int col, int twips);
    void setRowHeightPixels(int pixels);

    // Whether (row, col) is a cell of the grid, fixed or not.
    bool isCell(int row, int col) const;

    QString text(int row, int col) const;
    void setText(int row, int col, const QString& text);
    Qt::Alignment cellAlignment(int row, int col) const;
    void setCellAlignment(int row, int col, Qt::Alignment alignment);
    // The colour a data cell's text is drawn in; an invalid colour gives it the grid's
    // own text colour again.
    QColor cellInk(int row, int col) const;
    void setCellInk(int row, int col, const QColor& ink);
    QString cellToolTip(int row, int col) const;
    void setCellToolTip(int row, int col, const QString& toolTip);

    // The current cell in grid terms; (0, 0) when no data cell is current.
    int row() const { return currentRow() + 1; }
    int col() const { return currentColumn() + 1; }
    // Makes a data cell current (and selected); fixed cells cannot be current.
    void setCurrent(int row, int col);

    // Where a cell is drawn, in the coordinates of `widget` (e.g. the window).
    QRect cellRect(int row, int col, const QWidget* widget) const;
    // The part of that rectangle the grid shows (empty when scrolled out of view).
    QRect shownCellRect(int row, int col, const QWidget* widget) const;
    // Scrolls the grid the least that shows the whole data cell.
    void showCell(int row, int col);

  signals:
    // A click on a data cell, after the click made that cell current: the clicked
    // cell, even when something else made another cell current since the press.
    void Click();
    // The data cells moved on the screen: the grid scrolled, by whatever means.
    void Scroll();

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

  private:
    using QTableWidget::columnCount;
    using QTableWidget::currentColumn;
    using QTableWidget::currentItem;
    using QTableWidget::currentRow;
    using QTableWidget::item;
    using QTableWidget::itemAt;
    using QTableWidget::model;
    using QTableWidget::rowCount;
    using QTableWidget::setColumnCount;
    using QTableWidget::setCurrentCell;
    using QTableWidget::setItem;
    using QTableWidget::setRowCount;
    using QTableWidget::takeItem;

    QTableWidgetItem* cellItem(int row, int col) const;
    void placeCorner();
    void fillEmptyCells();  // every cell, fixed or not, has an item

    QLabel* corner_;
};

// Alignment of a cell that was given none: numbers to the right, other text to
// the left, both vertically centred.
Qt::Alignment generalAlignment(const QString& text);

}  // namespace bench
