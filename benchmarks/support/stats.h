// SPDX-License-Identifier: MIT
// Percentiles of timing samples, taken the same way in every benchmark.
#pragma once

#include <cstddef>
#include <vector>

namespace perf {

struct Summary {
    std::size_t count = 0;
    double median = 0;  // the mean of the two middle samples when the count is even
    double p99 = 0;     // nearest rank: the smallest sample with 99% of all at or below it
    double min = 0;
    double max = 0;
};

// Nearest-rank percentile (0 < p <= 100) of samples; 0 for no samples.
double percentile(std::vector<double> samples, double p);
Summary summarize(std::vector<double> samples);

// Two sides measured in alternating blocks: the median over block pairs of
// median(a[i]) / median(b[i]). A change of the machine's load between blocks
// moves both halves of a pair alike, so it cannot pass for a difference of the
// sides. Pairs with an empty block are skipped; 0 when none is left.
double paired_ratio(const std::vector<std::vector<double>>& a,
                    const std::vector<std::vector<double>>& b);

}  // namespace perf
