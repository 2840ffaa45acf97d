// SPDX-License-Identifier: MIT
// The simulator's line (pseudo-terminal, serial device or TCP) and its serving loop.
#pragma once

#include "options.h"

namespace benchslave {

// Serves requests until a byte arrives on stop_fd. Prints the address a master
// should open as the first line of stdout, and the counters when it stops.
// Returns the process exit code.
int serve(const Options& options, int stop_fd);

}  // namespace benchslave
