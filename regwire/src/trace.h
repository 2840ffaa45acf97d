// SPDX-License-Identifier: MIT
// REGWIRE_TRACE=1: one line per request on standard error.
#pragma once

#include <cstdint>
#include <string>

namespace regwire {

struct TraceRecord {
    int32_t port = 0;
    int station = 0;
    int function = 0;  // 0x03 or 0x10
    int start = 0;
    int count = 0;
    const uint16_t* registers = nullptr;  // values written, or read (on success)
    int32_t result = 0;
    uint32_t timeout_us = 0;
    double elapsed_ms = 0;
    uint32_t allowance_us = 0;  // the slave's turnaround allowance in use (serial)
    int stale = 0;              // late replies to earlier requests skipped on the way
    // A read widened to take a reply shape no earlier request may be answered
    // with: the registers asked on the wire (count 0: not widened).
    int widened_start = 0;
    int widened_count = 0;
};

// The request and reply are shown as their PDUs (function code onwards), formed
// from the request's arguments and the decoded reply; the framing around them
// (the RTU address byte and CRC, or the TCP header) is not repeated here.
void trace_request(const TraceRecord& record);

// A port that could not be opened: `detail` names it, its device and the reason.
void trace_open_failure(const std::string& detail, int32_t result);

}  // namespace regwire
