// SPDX-License-Identifier: MIT
#include "line.h"

#include <algorithm>
#include <iterator>

namespace regwire {

int baud_for_index(int32_t index) {
    if (index < 0 || index >= static_cast<int32_t>(std::size(kSpeeds))) return 0;
    return kSpeeds[index];
}

char parity_for_index(int32_t index) {
    switch (index) {
        case 0:
            return 'N';
        case 1:
            return 'O';
        case 2:
            return 'E';
        default:
            return 0;
    }
}

uint32_t Timing::wire_us(int bytes) const {
    if (baud <= 0 || bytes <= 0) return 0;
    const uint64_t bits = static_cast<uint64_t>(bytes) * 11u;
    const auto b = static_cast<uint64_t>(baud);
    return static_cast<uint32_t>((bits * 1000000u + b - 1) / b);
}

uint32_t Timing::response_timeout_us(int request_bytes, int reply_bytes) const {
    if (baud <= 0) return turnaround_us + 50000u;
    return wire_us(request_bytes + reply_bytes) + turnaround_us;
}

uint32_t Timing::byte_timeout_us() const {
    if (baud <= 0) return 50000u;
    return std::max<uint32_t>(20000u, wire_us(4));
}

}  // namespace regwire
