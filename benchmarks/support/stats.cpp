// SPDX-License-Identifier: MIT
#include "stats.h"

#include <algorithm>
#include <cmath>

namespace perf {

namespace {

double nearest_rank(const std::vector<double>& sorted, double p) {
    if (sorted.empty()) return 0;
    auto rank = static_cast<std::size_t>(std::ceil(p / 100.0 * static_cast<double>(sorted.size())));
    rank = std::clamp<std::size_t>(rank, 1, sorted.size());
    return sorted[rank - 1];
}

}  // namespace

double percentile(std::vector<double> samples, double p) {
    std::sort(samples.begin(), samples.end());
    return nearest_rank(samples, p);
}

Summary summarize(std::vector<double> samples) {
    Summary s;
    if (samples.empty()) return s;
    std::sort(samples.begin(), samples.end());
    const std::size_t n = samples.size();
    s.count = n;
    s.median = n % 2 == 1 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2.0;
    s.p99 = nearest_rank(samples, 99.0);
    s.min = samples.front();
    s.max = samples.back();
    return s;
}

double paired_ratio(const std::vector<std::vector<double>>& a,
                    const std::vector<std::vector<double>>& b) {
    std::vector<double> ratios;
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
        if (a[i].empty() || b[i].empty()) continue;
        const double denominator = summarize(b[i]).median;
        if (denominator > 0) ratios.push_back(summarize(a[i]).median / denominator);
    }
    return summarize(ratios).median;
}

}  // namespace perf
