// SPDX-License-Identifier: MIT
#include "report.h"

#include <cstdio>

namespace perf {

namespace {

std::string format(const char* fmt, double value) {
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, value);
    return buf;
}

std::string clean(std::string field) {
    for (char& c : field) {
        if (c == '\t' || c == '\n' || c == '\r') c = ' ';
    }
    return field.empty() ? "-" : field;
}

}  // namespace

std::string ms_text(double ms) {
    if (ms < 1.0) return format("%.3f ms", ms);
    if (ms < 100.0) return format("%.2f ms", ms);
    return format("%.1f ms", ms);
}

std::string ratio_text(double figure, double comparison) {
    if (!(comparison > 0)) return "-";
    const double r = figure / comparison;
    if (r >= 100) return format("%.0fx", r);
    if (r >= 10) return format("%.1fx", r);
    return r >= 0.1 ? format("%.3fx", r) : format("%.2gx", r);
}

std::string verdict_text(bool met) {
    return met ? "met" : "missed";
}

std::string row_line(const Row& row) {
    return "ROW\t" + clean(row.measurement) + "\t" + clean(row.figure) + "\t" +
           clean(row.comparison) + "\t" + clean(row.ratio) + "\t" + clean(row.goal) + "\t" +
           clean(row.verdict);
}

void print_row(const Row& row) {
    std::printf("%s\n", row_line(row).c_str());
    std::fflush(stdout);
}

}  // namespace perf
