// SPDX-License-Identifier: MIT
// Line settings and the time an exchange may take on the line.
#pragma once

#include <cstdint>

namespace regwire {

// The speeds an operator picks from, by index, and the ports the programs list
// (1..kListedPorts).
constexpr int kSpeeds[] = {4800, 9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600};
constexpr int kListedPorts = 19;

// Speed index 0..8 to bits per second; 0 for an index out of range. Index 8 is
// 921600: the operator's list says 961200, which no serial line offers.
int baud_for_index(int32_t index);

// Parity index 0..2 to libmodbus's 'N', 'O', 'E'; 0 for an index out of range.
char parity_for_index(int32_t index);

// Microsecond budgets of one request. A character takes 11 bits on the line
// (start, 8 data, parity or stop, stop), whatever the parity, which is exact with
// parity and leaves a margin without.
struct Timing {
    int baud = 0;                     // 0: TCP, where the line time does not apply
    uint32_t turnaround_us = 100000;  // what a slave may take to start its reply
    // What the allowance may grow to when a serial slave is heard answering late.
    uint32_t max_turnaround_us = 2000000;

    uint32_t wire_us(int bytes) const;
    // The time to wait for the first byte of a reply: request and reply on the
    // line plus the slave's turnaround (TCP: turnaround plus 50 ms of network).
    uint32_t response_timeout_us(int request_bytes, int reply_bytes) const;
    // The longest gap allowed inside a reply: 4 character times, but at least
    // 20 ms, as USB serial adapters deliver bytes in bursts of up to 16 ms.
    uint32_t byte_timeout_us() const;
};

// Frame sizes of function 03 and 16 requests and replies on an RTU line.
inline int read_request_bytes() {
    return 8;
}
inline int read_reply_bytes(int registers) {
    return 5 + 2 * registers;
}
inline int write_request_bytes(int registers) {
    return 9 + 2 * registers;
}
inline int write_reply_bytes() {
    return 8;
}

}  // namespace regwire
