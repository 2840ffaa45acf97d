// SPDX-License-Identifier: MIT
// Builds the controls of the window from its control table: kinds, frames,
// geometry, texts, colours, fonts and tab order, keeping the ones the handlers use
// in `Controls` as it creates them.
#pragma once

#include <vector>

#include "widgets/control_table.h"
#include "widgets/controls.h"

namespace bench {

// The controls of the window, and its two timers (interval set, not started). A
// control the handlers use that the table lacks, or of another kind, ends the program:
// the table and `Controls` are out of step.
Controls buildControls(QWidget* window, const std::vector<ControlRow>& table);

}  // namespace bench
