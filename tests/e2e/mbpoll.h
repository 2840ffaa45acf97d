// SPDX-License-Identifier: MIT
// mbpoll, an independent Modbus master, run once against a simulator's line:
// PDU addressing, 38400 baud, even parity (the programs' defaults), station 1.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace bench::testing {

struct MbpollResult {
    bool ok = false;
    std::string output;
    std::map<int, int64_t> values;  // register address -> value (signed)
};

// Reads `count` 16-bit registers (or 32-bit values, high word first) from `start`.
MbpollResult mbpollRead(const std::string& device, int start, int count, bool wide);

// Writes `values` as 16-bit registers (or 32-bit values, high word first) from `start`.
MbpollResult mbpollWrite(const std::string& device, int start, const std::vector<int64_t>& values,
                         bool wide);

// Parses mbpoll's "[ADDR]: \tVALUE" and "[ADDR]: \tRAW (SIGNED)" lines.
std::map<int, int64_t> parseMbpollValues(const std::string& output);

}  // namespace bench::testing
