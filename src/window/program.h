// SPDX-License-Identifier: MIT
// Start-up of either program: the application, the program-wide state, the driver
// bound by name, and the window of the variant.
#pragma once

#include "core/variant.h"

namespace bench {

int runProgram(int argc, char** argv, Variant variant);

}  // namespace bench
