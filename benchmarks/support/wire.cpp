// SPDX-License-Identifier: MIT
#include "wire.h"

namespace perf {

namespace {

std::vector<Exchange> split(int registers, int chunk, bool read) {
    std::vector<Exchange> out;
    for (int done = 0; chunk > 0 && done < registers; done += chunk) {
        const int n = registers - done < chunk ? registers - done : chunk;
        // Read: address, function, start (2), count (2), CRC (2); reply: address,
        // function, byte count, data, CRC. Write: address, function, start, count,
        // byte count, data, CRC; reply: address, function, start, count, CRC.
        out.push_back(read ? Exchange{8, 5 + 2 * n} : Exchange{9 + 2 * n, 8});
    }
    return out;
}

}  // namespace

std::vector<Exchange> read_exchanges(int registers, int chunk) {
    return split(registers, chunk, true);
}

std::vector<Exchange> write_exchanges(int registers, int chunk) {
    return split(registers, chunk, false);
}

double line_chars(const std::vector<Exchange>& exchanges) {
    double chars = 0;
    for (const Exchange& e : exchanges) chars += e.request_bytes + e.reply_bytes + 2 * kGapChars;
    return chars;
}

double wire_ms(const std::vector<Exchange>& exchanges, int baud) {
    if (baud <= 0) return 0;
    return line_chars(exchanges) * kBitsPerChar * 1000.0 / baud;
}

double wire_ms_fixed_gaps(const std::vector<Exchange>& exchanges, int baud) {
    if (baud <= 0) return 0;
    const double char_ms = kBitsPerChar * 1000.0 / baud;
    const double gap_ms = baud > 19200 && kGapChars * char_ms < 1.75 ? 1.75 : kGapChars * char_ms;
    double ms = 0;
    for (const Exchange& e : exchanges)
        ms += (e.request_bytes + e.reply_bytes) * char_ms + 2 * gap_ms;
    return ms;
}

double response_bound_ms(const Exchange& exchange, int baud, double turnaround_ms) {
    if (baud <= 0) return turnaround_ms;
    return (exchange.request_bytes + exchange.reply_bytes) * kBitsPerChar * 1000.0 / baud +
           turnaround_ms;
}

}  // namespace perf
