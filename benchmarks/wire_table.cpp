// SPDX-License-Identifier: MIT
// Prints what a 64-register read (16-bit) and a 64-value 32-bit read (two
// requests) take on a real RTU line at each of the nine speeds, as a Markdown
// table: the figures beside which the pty measurements must be read.
#include <cstdio>

#include "support/wire.h"

int main() {
    using namespace perf;
    const auto read16 = read_exchanges(64, 125);
    const auto read32 = read_exchanges(128, 124);
    std::printf(
        "| bit/s | 1 character (us) | 64 registers (ms) | 64 values, 32-bit (ms) | "
        "the same with 1.75 ms gaps above 19200 (ms) | Regwire's wait for a silent slave (ms) |\n");
    std::printf("|---|---|---|---|---|---|\n");
    for (int baud : kSpeeds) {
        std::printf("| %d | %.2f | %.2f | %.2f | %.2f / %.2f | %.1f |\n", baud,
                    kBitsPerChar * 1e6 / baud, wire_ms(read16, baud), wire_ms(read32, baud),
                    wire_ms_fixed_gaps(read16, baud), wire_ms_fixed_gaps(read32, baud),
                    response_bound_ms(read16.at(0), baud, 100));
    }
    return 0;
}
