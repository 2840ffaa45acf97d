// SPDX-License-Identifier: MIT
// What a transfer costs on a real serial line, where a pseudo-terminal costs
// nothing: Modbus RTU frames of function 03 and 16, 11 bits a character (start,
// 8 data, parity or a second stop, stop), and the silence of 3.5 characters that
// must precede every frame.
#pragma once

#include <vector>

namespace perf {

inline constexpr int kBitsPerChar = 11;
inline constexpr double kGapChars = 3.5;
// The speeds of the nine speed indexes, in bit/s.
inline constexpr int kSpeeds[9] = {4800, 9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600};

// One request and its reply, in bytes on the line (address to CRC).
struct Exchange {
    int request_bytes = 0;
    int reply_bytes = 0;
};

// A read of `registers` holding registers (function 03) in requests of at most
// `chunk` registers; a write (function 16) likewise.
std::vector<Exchange> read_exchanges(int registers, int chunk);
std::vector<Exchange> write_exchanges(int registers, int chunk);

// Characters on the line, gaps included (3.5 before each of the two frames of
// every exchange).
double line_chars(const std::vector<Exchange>& exchanges);
// Milliseconds the exchanges occupy the line at `baud`.
double wire_ms(const std::vector<Exchange>& exchanges, int baud);
// The same where, above 19200 bit/s, every gap lasts at least 1.75 ms, the fixed
// silence most RTU devices keep at high speeds instead of 3.5 characters.
double wire_ms_fixed_gaps(const std::vector<Exchange>& exchanges, int baud);
// The longest a caller waits for one exchange that gets no reply, as Regwire
// bounds it: request and reply on the line (without gaps) plus the turnaround.
double response_bound_ms(const Exchange& exchange, int baud, double turnaround_ms);

}  // namespace perf
