// SPDX-License-Identifier: MIT
// Command line of the bench slave simulator.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace benchslave {

enum class LineMode { Pty, Device, Tcp };
enum class Pattern { Zeros, Demo, Address };
// How the slave works through requests that arrive while it is busy with one.
enum class Busy { Overlap, Queue, Drop };

// "Every Nth request" schedule; 0 means never.
struct Every {
    unsigned n = 0;
    bool hits(unsigned long request_number) const { return n != 0 && request_number % n == 0; }
};

struct Options {
    LineMode mode = LineMode::Pty;
    std::string device;                // --device PATH
    int baud = 19200;                  // --baud: the device's speed
    bool baud_given = false;           // on a pty: serve only at this speed
    char parity = 'N';                 // --parity N|E|O, for --device only
    int tcp_port = 0;                  // --tcp PORT (0: the system picks one)
    std::string listen = "127.0.0.1";  // --listen ADDRESS, for --tcp
    int station = 1;                   // --station 1..247
    Pattern pattern = Pattern::Zeros;
    Every no_reply;             // --no-reply-every N
    Every bad_crc;              // --bad-crc-every N
    Every exception;            // --exception-every N
    int exception_code = 4;     // --exception CODE (1..11)
    Every delay;                // --delay-every N
    int delay_ms = 500;         // --delay-ms MS, also the delay of the magic delay address
    int late_ms = 0;            // --late-ms MS: every reply MS after its request, values right
    Every wrong_unit;           // --wrong-unit-every N: the reply names another station
    Every wrong_protocol;       // --wrong-protocol-every N: TCP protocol id 1
    Every wrong_echo;           // --wrong-echo-every N: a write's echo names the next address
    Busy busy = Busy::Overlap;  // --one-at-a-time queue|drop
    int delay_min_ms = 0;       // --delay-range MIN:MAX: a random delay per request
    int delay_max_ms = 0;
    std::uint32_t seed = 1;     // --seed N, for the random delays and drops
    int duplicate_ms = -1;      // --duplicate-ms MS|MIN:MAX: each reply again MS later (-1: no),
    int duplicate_max_ms = -1;  // or a random MIN..MAX later
    bool echo = false;          // --echo: the line echoes every request
    unsigned drop_chance = 0;   // --drop-chance N: ignores one request in N (0: none)
    std::string counters_file;  // --counters-file PATH
    bool verbose = false;       // --verbose: one line per request on stderr
};

struct ParseResult {
    std::optional<Options> options;  // empty on error or --help
    std::string message;             // error text, or the usage for --help
    bool help = false;
};

ParseResult parse_options(const std::vector<std::string>& args);
std::string usage();

}  // namespace benchslave
