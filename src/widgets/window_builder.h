// SPDX-License-Identifier: MIT
// Builds the controls of the window from its control table: kinds, frames,
// geometry, texts, colours, fonts and tab order; then finds them by name.
#pragma once

#include <vector>

#include "widgets/control_table.h"
#include "widgets/controls.h"

namespace bench {

void buildControls(QWidget* window, const std::vector<ControlRow>& table);

// The controls of a built window, and its two timers (interval set, not started).
Controls findControls(QWidget* window);

}  // namespace bench
