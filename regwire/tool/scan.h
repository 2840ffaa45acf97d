// SPDX-License-Identifier: MIT
// `regwire scan`: finds a slave whose speed, parity and station are unknown by
// reading one register at every combination, the common settings first.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "options.h"

namespace regwire_tool {

struct LineSettings {
    int speed = 0;   // index 0-8
    int parity = 0;  // index 0 none, 1 odd, 2 even
    bool operator==(const LineSettings&) const = default;
};

// The settings to try, in order: 9600 and 19200 bit/s with even and no parity
// first, then the others from the most to the least common. Only the speeds and
// parities listed are kept (an empty list keeps all). Pure.
std::vector<LineSettings> scan_order(const std::vector<int>& speeds,
                                     const std::vector<int>& parities);

struct ScanPlan {
    int32_t port = 0;
    bool tcp = false;  // speed and parity mean nothing: one pass over the stations
    std::vector<LineSettings> settings;
    StationRange stations;
    uint32_t turnaround_us = 50000;  // the slave's allowance to start its reply
};

// The longest a scan can take: for each setting an open and close, and for each
// station the most a one-register read may take as libRegwire bounds it with a
// fixed allowance (three response timeouts).
// Pure.
uint64_t scan_bound_us(const ScanPlan& plan);
// What a scan takes when nothing answers: one response timeout a station. Pure.
uint64_t scan_typical_us(const ScanPlan& plan);

// "1 min 05 s", "12.3 s". Pure.
std::string duration_text(uint64_t us);

// The `regwire probe` line that reads a slave found at these settings. Pure.
std::string probe_line(int32_t port, const LineSettings& s, int station, bool tcp);

// Runs the scan through libRegwire: the bound on stdout first, progress on
// stderr, each answering combination on stdout. The environment's
// REGWIRE_TURNAROUND_MS and _MAX_MS are set for the opens. Returns the exit
// status: 0 something answered, 1 nothing did or the port cannot be opened.
int run_scan(const ScanPlan& plan, const std::string& where);

}  // namespace regwire_tool
