// SPDX-License-Identifier: MIT
#include "panels/write_panel.h"

#include <QRegion>
#include <algorithm>

#include "core/numbers.h"
#include "panels/parsed_text.h"
#include "widgets/grid_view.h"

namespace bench {
namespace {

// Values the Write command copies into its buffer; the rest of the 81 stay 0.
constexpr std::size_t kValuesCopied = 64;

}  // namespace

void WritePanel::Timer2_Timer() {
    Controls& c = ctx_.controls;
    storeCount(writeCount_, c.Text4, QStringLiteral("1"));
    storeParsed(writeStart_, c.Text3->text());
    const auto& values = ctx_.state.WriteValues;
    FlexGrid& grid = *c.MSFlexGrid2;
    layOutGrid(grid, writeCount_, writeStart_, ctx_.facts.addressStep, [&](int row) {
        const auto index = static_cast<std::size_t>(row - 1);
        return index < values.size() ? QString::fromStdString(decimalText(values[index]))
                                     : grid.text(row, 1);
    });
}

void WritePanel::MSFlexGrid2_Click() {
    Controls& c = ctx_.controls;
    FlexGrid& grid = *c.MSFlexGrid2;
    if (grid.col() != 1 || grid.row() < 1) return;
    c.Timer2->stop();
    editRow_ = grid.row();
    editCol_ = grid.col();
    // A cell the grid's edge cuts is scrolled into view now, not by the grid a moment
    // after the click.
    grid.showCell(editRow_, editCol_);
    c.Text5->show();
    placeEditor();
    c.Text5->setText(grid.text(editRow_, editCol_));
    c.Text5->raise();
    c.Text5->setFocus();
    c.Text5->selectAll();
}

void WritePanel::MSFlexGrid2_Scroll() {
    if (ctx_.controls.Text5->isVisible()) placeEditor();
}

// Exactly over the edited cell as drawn, the grid's frame included; of the editor,
// only what lies over the grid's cells shows, so that it never covers the header
// row or the controls beyond the grid.
void WritePanel::placeEditor() {
    Controls& c = ctx_.controls;
    const FlexGrid& grid = *c.MSFlexGrid2;
    const QRect cell = grid.cellRect(editRow_, editCol_, c.window);
    const QRect shown = grid.shownCellRect(editRow_, editCol_, c.window);
    c.Text5->setGeometry(cell);
    if (shown == cell) {
        c.Text5->clearMask();
    } else {
        // An empty mask would show the whole editor; a point outside it shows none.
        c.Text5->setMask(shown.isEmpty() ? QRegion(-1, -1, 1, 1)
                                         : QRegion(shown.translated(-cell.topLeft())));
    }
}

void WritePanel::Text5_KeyPress(int16_t keyAscii) {
    if (keyAscii != kEnterKey) return;
    if (editCol_ != 1) return;
    Controls& c = ctx_.controls;
    auto& values = ctx_.state.WriteValues;
    const int32_t index = editRow_ - 1;
    const bool inRange = index >= 0 && index < static_cast<int32_t>(values.size());
    if (inRange) {
        // A number beyond 32 bits keeps the old value.
        if (const auto value = parseInt32(c.Text5->text().toStdString())) {
            values[static_cast<std::size_t>(index)] = *value;
        }
        // Show what was stored at once rather than a second later.
        c.MSFlexGrid2->setText(
            editRow_, 1,
            QString::fromStdString(decimalText(values[static_cast<std::size_t>(index)])));
    }
    c.Text5->hide();
    c.Timer2->start();
}

void WritePanel::Command2_Click() {
    std::array<int32_t, 81> buffer{};
    std::copy_n(ctx_.state.WriteValues.begin(), kValuesCopied, buffer.begin());
    const auto& settings = ctx_.state.PortSettings;
    const DriverCall call = ctx_.is16Bit()
                                ? ctx_.driver.Set_4X_DX(settings[kPort], settings[kStation],
                                                        writeStart_, writeCount_, buffer.data())
                                : ctx_.driver.Set_4X_LDX(settings[kPort], settings[kStation],
                                                         writeStart_, writeCount_, buffer.data());
    if (!call.reached) {
        ctx_.reportDriverFailure(ctx_.facts.writeFunction, call);
        return;
    }
    if (!isFailure(call.result)) return;
    // A 16-bit value that does not fit is named with its row.
    const std::vector<RefusedValue> refused =
        ctx_.is16Bit() ? refusedValues16(buffer.data(), writeCount_) : std::vector<RefusedValue>{};
    ctx_.reportCommandFailure(failureNotice(
        ctx_.failedCall(Command::Write, ctx_.facts.writeFunction, call.result), refused));
}

}  // namespace bench
