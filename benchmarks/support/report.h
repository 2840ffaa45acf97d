// SPDX-License-Identifier: MIT
// The rows every benchmark prints for the summary table of scripts/bench: one
// line per measurement, "ROW" and six tab-separated fields. Everything else a
// benchmark prints is detail for the reader.
#pragma once

#include <string>

namespace perf {

struct Row {
    std::string measurement;
    std::string figure;      // what was measured
    std::string comparison;  // what it is compared with, measured in the same run
    std::string ratio;       // figure / comparison
    std::string goal;
    std::string verdict;  // "met", "missed", or "-" for a row without a goal
};

// "0.123 ms", "12.3 ms", "262.1 ms": three significant digits or more.
std::string ms_text(double ms);
// "1.034x", "0.0016x"; "-" when the comparison is 0 or less.
std::string ratio_text(double figure, double comparison);
std::string verdict_text(bool met);

// The row as one line ("ROW\t" and the fields; tabs and newlines in fields become spaces).
std::string row_line(const Row& row);
// Prints row_line() to stdout and flushes.
void print_row(const Row& row);

}  // namespace perf
