// SPDX-License-Identifier: MIT
// A fresh program for each test: its own state, the driver bound by name (the
// recording stand-in, through LD_LIBRARY_PATH), and a shown window of a variant.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <QMessageBox>
#include <QTest>
#include <QWindow>
#include <memory>

#include "core/twips.h"
#include "driver/library_driver.h"
#include "recording.h"
#include "window/bench_window.h"

namespace bench::testing {

class WindowTest : public ::testing::Test {
  protected:
    void open(Variant variant) {
        window_ = std::make_unique<BenchWindow>(variant, state_, driver_);
        window_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
        recording_.takeCalls();
    }
    void TearDown() override {
        window_.reset();
        // Nothing the window scheduled for deletion (a closed notice) outlives the test.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    BenchWindow& window() { return *window_; }
    Controls& c() { return window_->controls(); }
    ProgramState& state() { return state_; }
    Recording& recording() { return recording_; }

    template <typename T = QWidget>
    T* control(const char* name) {
        return window_->findChild<T*>(QString::fromUtf8(name));
    }

    // Types `text` into an entry field as an operator would: select all, type.
    void type(QLineEdit* field, const QString& text) {
        field->setFocus();
        field->selectAll();
        if (text.isEmpty()) {
            QTest::keyClick(field, Qt::Key_Delete);
        } else {
            QTest::keyClicks(field, text);
        }
    }

    void click(QWidget* button) { QTest::mouseClick(button, Qt::LeftButton); }

    // A click as the window system delivers it, which a modal window would refuse.
    void clickThroughWindow(QWidget* button) {
        QWidget* top = button->window();
        QTest::mouseClick(top->windowHandle(), Qt::LeftButton, {},
                          button->mapTo(top, button->rect().center()));
    }

    // Clicks the centre of a data cell of a grid.
    void clickCell(FlexGrid* grid, int row, int col) {
        const QRect cell = grid->cellRect(row, col, grid->viewport());
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
    }

    // The colour of a data cell as drawn at its centre, where a short number does not
    // reach (numbers stand at the right, addresses at the left).
    static QColor cellColour(FlexGrid* grid, int row, int col) {
        return grid->grab().toImage().pixelColor(grid->cellRect(row, col, grid).center());
    }

    // Whether a data cell is drawn as the selected (current) cell. The style may shade
    // the highlight colour slightly.
    static bool drawnHighlighted(FlexGrid* grid, int row, int col) {
        const QColor shown = cellColour(grid, row, col);
        auto near = [&shown](const QColor& colour) {
            return std::abs(shown.red() - colour.red()) <= 16 &&
                   std::abs(shown.green() - colour.green()) <= 16 &&
                   std::abs(shown.blue() - colour.blue()) <= 16;
        };
        return near(grid->palette().color(QPalette::Active, QPalette::Highlight)) ||
               near(grid->palette().color(QPalette::Inactive, QPalette::Highlight));
    }

    int messageBoxes() { return static_cast<int>(window_->findChildren<QMessageBox*>().size()); }

    // A grid row as its three cell texts.
    static std::vector<std::string> rowTexts(FlexGrid* grid, int row) {
        return {grid->text(row, 0).toStdString(), grid->text(row, 1).toStdString(),
                grid->text(row, 2).toStdString()};
    }

  private:
    Recording recording_;
    ProgramState state_;
    LibraryDriver driver_;
    std::unique_ptr<BenchWindow> window_;
};

}  // namespace bench::testing
