// SPDX-License-Identifier: MIT
// Typed handles on the controls of the window, found by their names after the
// window has been built from its control table.
#pragma once

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <array>

#include "widgets/flex_grid.h"

namespace bench {

struct Controls {
    QWidget* window = nullptr;
    QLabel* Label2_9 = nullptr;              // date of the last poll
    QLabel* Label2_10 = nullptr;             // time of the last poll
    QComboBox* Combo1 = nullptr;             // port
    QComboBox* Combo2 = nullptr;             // station address
    QComboBox* Combo3 = nullptr;             // speed
    std::array<QRadioButton*, 3> Option2{};  // parity: none, odd, even
    QPushButton* Command1 = nullptr;         // Exit
    QPushButton* Command2 = nullptr;         // Write
    QPushButton* Command3 = nullptr;         // Start reading
    QPushButton* Command9 = nullptr;         // Open
    QPushButton* Command10 = nullptr;        // Close
    QLineEdit* Text1 = nullptr;              // read count
    QLineEdit* Text2 = nullptr;              // read start address
    QLineEdit* Text3 = nullptr;              // write start address
    QLineEdit* Text4 = nullptr;              // write count
    QLineEdit* Text5 = nullptr;              // in-cell editor of the write grid
    FlexGrid* MSFlexGrid1 = nullptr;         // read grid
    FlexGrid* MSFlexGrid2 = nullptr;         // write grid
    QTimer* Timer1 = nullptr;                // read cycle, 500 ms
    QTimer* Timer2 = nullptr;                // write grid refresh, 1000 ms
};

}  // namespace bench
