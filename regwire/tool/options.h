// SPDX-License-Identifier: MIT
// The tool's arguments read as numbers, speeds, parities, station ranges and
// TCP addresses. Pure.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace regwire_tool {

// `text` as a whole decimal number within lo..hi.
bool parse_int(const std::string& text, long lo, long hi, long& out);

// A port number as OpenPort_Modbus takes it, 1..2147483647.
bool parse_port(const std::string& text, int32_t& port);

// Speed index 0-8, or a bit rate of the list (961200 names index 8); -1 if neither.
int speed_index(const std::string& text);

// none/odd/even (n/o/e, 0/1/2, any case) to the parity index; -1 if neither.
int parity_index(const std::string& text);

// "A,B,..." of speeds or parities, each read by `one`; empty if any is bad.
std::vector<int> parse_list(const std::string& text, int (*one)(const std::string&));

// "N" or "A-B" within 1..247, A <= B.
struct StationRange {
    int first = 1;
    int last = 247;
};
std::optional<StationRange> parse_stations(const std::string& text);

// Why a tcp: device lacks a host or a port 1..65535 ("tcp:HOST:PORT", an IPv6
// host in brackets), or nullopt when it has both or is no tcp: device.
std::optional<std::string> tcp_address_problem(const std::string& device);

}  // namespace regwire_tool
