// SPDX-License-Identifier: MIT
#include "widgets/flex_grid.h"

#include <QBrush>
#include <QHeaderView>
#include <QPainter>
#include <QProxyStyle>
#include <QRegularExpression>
#include <QStyleOption>
#include <QStyledItemDelegate>

#include "core/twips.h"

namespace bench {
namespace {

constexpr int kAlignmentSet = Qt::UserRole + 1;

const QColor kBeyondCells(128, 128, 128);
const QColor kCellLines(192, 192, 192);
const QColor kFixedLines(0, 0, 0);

// Right and bottom edge of a fixed cell: the line to its neighbours.
void drawFixedLines(QPainter* painter, const QRect& cell) {
    painter->save();
    painter->setPen(kFixedLines);
    painter->drawLine(cell.topRight(), cell.bottomRight());
    painter->drawLine(cell.bottomLeft(), cell.bottomRight());
    painter->restore();
}

// The grid's own colours, which the platform style would replace by its own: light
// grey lines between cells, fixed cells in button face with black lines between
// them, and grey where the header strips run beyond the last fixed cell.
class GridStyle : public QProxyStyle {
  public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == SH_Table_GridLineColor) return static_cast<int>(kCellLines.rgba());
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }

    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
        switch (element) {
            case CE_HeaderEmptyArea:
                painter->fillRect(option->rect, kBeyondCells);
                return;
            case CE_HeaderSection:
                painter->fillRect(option->rect, option->palette.button());
                drawFixedLines(painter, option->rect);
                return;
            default:
                QProxyStyle::drawControl(element, option, painter, widget);
        }
    }
};

// A selected cell drawn in the highlight colours would hide the ink a cell was given
// (the grey of a stale value); such a cell keeps its ink when selected, on a paler
// highlight, so that the current cell shows it too.
class CellDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

  protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        const QVariant ink = index.data(Qt::ForegroundRole);
        if (!ink.isValid() || !option->state.testFlag(QStyle::State_Selected)) return;
        for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
            const QColor highlight = option->palette.color(group, QPalette::Highlight);
            option->palette.setColor(group, QPalette::Highlight, paler(highlight));
            option->palette.setColor(group, QPalette::HighlightedText, ink.value<QBrush>().color());
        }
    }

  private:
    // A third of the colour, two thirds white.
    static QColor paler(const QColor& colour) {
        return QColor(255 - (255 - colour.red()) / 3, 255 - (255 - colour.green()) / 3,
                      255 - (255 - colour.blue()) / 3);
    }
};

// Cell (0, 0), where the fixed row and the fixed column meet.
class CornerCell : public QLabel {
  public:
    using QLabel::QLabel;

  protected:
    void paintEvent(QPaintEvent* event) override {
        QLabel::paintEvent(event);
        QPainter painter(this);
        drawFixedLines(&painter, rect());
    }
};

}  // namespace

Qt::Alignment generalAlignment(const QString& text) {
    static const QRegularExpression number(QStringLiteral(R"(^\s*[-+]?(\d+\.?\d*|\.\d+)\s*$)"));
    return (number.match(text).hasMatch() ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter;
}

FlexGrid::FlexGrid(QWidget* parent) : QTableWidget(0, 0, parent), corner_(new CornerCell(this)) {
    auto* style = new GridStyle;
    style->setParent(this);
    setStyle(style);
    setItemDelegate(new CellDelegate(this));
    // A single border with a three-dimensional look: sunken, two pixels.
    setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
    // Tab leaves the grid for the next control; the arrow keys move between cells.
    setTabKeyNavigation(false);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::ContiguousSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setGridStyle(Qt::SolidLine);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerItem);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);

    for (QHeaderView* header : {horizontalHeader(), verticalHeader()}) {
        header->setStyle(style);
        header->setSectionResizeMode(QHeaderView::Fixed);
        header->setSectionsClickable(false);
        header->setHighlightSections(false);
        header->setMinimumSectionSize(0);
    }
    // The number column is the vertical header: its width is that of column 0.
    verticalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // Beyond the last cell the grid shows grey; the cells themselves are white.
    QPalette colours = palette();
    colours.setColor(QPalette::Base, QColor(128, 128, 128));
    setPalette(colours);

    setCols(3);
    setColWidthTwips(0, 960);
    for (int c = 1; c < cols(); ++c) setColWidthTwips(c, 960);
    setRowHeightPixels(16);

    corner_->setAutoFillBackground(true);
    corner_->setBackgroundRole(QPalette::Button);
    corner_->setForegroundRole(QPalette::ButtonText);
    corner_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    corner_->setIndent(2);
    corner_->setAttribute(Qt::WA_TransparentForMouseEvents);

    setRows(2);
    fillEmptyCells();
    connect(this, &QTableWidget::cellClicked, this, [this](int row, int col) {
        setCurrent(row + 1, col + 1);
        emit Click();
    });
}

void FlexGrid::setRows(int rows) {
    const int oldRows = rowCount();
    setRowCount(std::max(rows, 1) - 1);
    // A new row's number cell starts empty, not with Qt's running row number.
    for (int r = oldRows; r < rowCount(); ++r) {
        auto* item = new QTableWidgetItem(QString());
        item->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        setVerticalHeaderItem(r, item);
    }
    fillEmptyCells();
}

void FlexGrid::setCols(int cols) {
    const int oldCols = columnCount();
    setColumnCount(std::max(cols, 1) - 1);
    for (int c = oldCols; c < columnCount(); ++c) {
        setHorizontalHeaderItem(c, new QTableWidgetItem(QString()));
    }
    fillEmptyCells();
}

void FlexGrid::fillEmptyCells() {
    for (int r = 0; r < rowCount(); ++r) {
        for (int c = 0; c < columnCount(); ++c) {
            if (item(r, c) != nullptr) continue;
            auto* cell = new QTableWidgetItem;
            cell->setBackground(QColor(Qt::white));
            setItem(r, c, cell);
        }
    }
}

void FlexGrid::setColWidthTwips(int col, int twips) {
    const int pixels = twipsToPixels(twips);
    if (col == 0) {
        verticalHeader()->setFixedWidth(pixels);
        placeCorner();
    } else if (col < cols()) {
        setColumnWidth(col - 1, pixels);
    }
}

void FlexGrid::setRowHeightPixels(int pixels) {
    verticalHeader()->setDefaultSectionSize(pixels);
    horizontalHeader()->setFixedHeight(pixels);
    placeCorner();
}

bool FlexGrid::isCell(int row, int col) const {
    return row >= 0 && col >= 0 && row < rows() && col < cols();
}

QTableWidgetItem* FlexGrid::cellItem(int row, int col) const {
    if (!isCell(row, col) || (row == 0 && col == 0)) return nullptr;
    if (row == 0) return horizontalHeaderItem(col - 1);
    if (col == 0) return verticalHeaderItem(row - 1);
    return item(row - 1, col - 1);
}

QString FlexGrid::text(int row, int col) const {
    if (row == 0 && col == 0) return corner_->text();
    const QTableWidgetItem* cell = cellItem(row, col);
    return cell != nullptr ? cell->text() : QString();
}

void FlexGrid::setText(int row, int col, const QString& text) {
    if (row < 0 || col < 0 || row >= rows() || col >= cols()) return;
    if (row == 0 && col == 0) {
        corner_->setText(text);
        return;
    }
    QTableWidgetItem* cell = cellItem(row, col);
    if (cell == nullptr || cell->text() == text) return;
    cell->setText(text);
    if (row > 0 && col > 0 && !cell->data(kAlignmentSet).toBool()) {
        cell->setTextAlignment(generalAlignment(text));
    }
}

Qt::Alignment FlexGrid::cellAlignment(int row, int col) const {
    if (row == 0 && col == 0) return corner_->alignment();
    const QTableWidgetItem* cell = cellItem(row, col);
    if (cell == nullptr) return generalAlignment(QString());
    return Qt::Alignment(cell->textAlignment());
}

void FlexGrid::setCellAlignment(int row, int col, Qt::Alignment alignment) {
    if (row < 0 || col < 0 || row >= rows() || col >= cols()) return;
    if (row == 0 && col == 0) {
        corner_->setAlignment(alignment);
        return;
    }
    QTableWidgetItem* cell = cellItem(row, col);
    if (cell == nullptr) return;
    cell->setData(kAlignmentSet, true);
    cell->setTextAlignment(alignment);
}

QColor FlexGrid::cellInk(int row, int col) const {
    const QTableWidgetItem* cell = row > 0 && col > 0 ? cellItem(row, col) : nullptr;
    const QVariant ink = cell != nullptr ? cell->data(Qt::ForegroundRole) : QVariant();
    return ink.isValid() ? ink.value<QBrush>().color() : palette().color(QPalette::Text);
}

void FlexGrid::setCellInk(int row, int col, const QColor& ink) {
    QTableWidgetItem* cell = row > 0 && col > 0 ? cellItem(row, col) : nullptr;
    if (cell == nullptr) return;
    const QVariant wanted = ink.isValid() ? QVariant(QBrush(ink)) : QVariant();
    if (cell->data(Qt::ForegroundRole) != wanted) cell->setData(Qt::ForegroundRole, wanted);
}

QString FlexGrid::cellToolTip(int row, int col) const {
    const QTableWidgetItem* cell = cellItem(row, col);
    return cell != nullptr ? cell->toolTip() : QString();
}

void FlexGrid::setCellToolTip(int row, int col, const QString& toolTip) {
    QTableWidgetItem* cell = cellItem(row, col);
    if (cell != nullptr && cell->toolTip() != toolTip) cell->setToolTip(toolTip);
}

void FlexGrid::setCurrent(int row, int col) {
    if (row < 1 || col < 1 || row >= rows() || col >= cols()) return;
    // Making a cell current leaves the scroll position where the operator put it.
    const bool scrolls = hasAutoScroll();
    setAutoScroll(false);
    QTableWidget::setCurrentCell(row - 1, col - 1);
    setAutoScroll(scrolls);
}

QRect FlexGrid::cellRect(int row, int col, const QWidget* widget) const {
    if (row < 1 || col < 1 || row >= rows() || col >= cols()) return {};
    const QRect inViewport = visualRect(model()->index(row - 1, col - 1));
    return QRect(viewport()->mapTo(widget, inViewport.topLeft()), inViewport.size());
}

QRect FlexGrid::shownCellRect(int row, int col, const QWidget* widget) const {
    const QRect cell = cellRect(row, col, widget);
    const QRect shown(viewport()->mapTo(widget, QPoint(0, 0)), viewport()->size());
    return cell.intersected(shown);
}

void FlexGrid::showCell(int row, int col) {
    if (row < 1 || col < 1 || row >= rows() || col >= cols()) return;
    scrollTo(model()->index(row - 1, col - 1), QAbstractItemView::EnsureVisible);
}

void FlexGrid::scrollContentsBy(int dx, int dy) {
    QTableWidget::scrollContentsBy(dx, dy);
    emit Scroll();
}

void FlexGrid::resizeEvent(QResizeEvent* event) {
    QTableWidget::resizeEvent(event);
    placeCorner();
}

void FlexGrid::placeCorner() {
    const int frame = frameWidth();
    corner_->setGeometry(frame, frame, verticalHeader()->width(), horizontalHeader()->height());
    corner_->raise();
}

}  // namespace bench
