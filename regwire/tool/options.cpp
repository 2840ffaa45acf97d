// SPDX-License-Identifier: MIT
#include "options.h"

#include <charconv>
#include <iterator>

#include "line.h"

namespace regwire_tool {

bool parse_int(const std::string& text, long lo, long hi, long& out) {
    const char* end = text.data() + text.size();
    long value = 0;
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || value < lo || value > hi) return false;
    out = value;
    return true;
}

bool parse_port(const std::string& text, int32_t& port) {
    long value = 0;
    if (!parse_int(text, 1, 2147483647L, value)) return false;
    port = static_cast<int32_t>(value);
    return true;
}

int speed_index(const std::string& text) {
    long value = 0;
    if (!parse_int(text, 0, 1000000, value)) return -1;
    if (value <= 8) return static_cast<int>(value);
    if (value == 961200) return 8;  // the operator's list names 921600 so
    for (int i = 0; i < static_cast<int>(std::size(regwire::kSpeeds)); ++i) {
        if (regwire::kSpeeds[i] == value) return i;
    }
    return -1;
}

int parity_index(const std::string& text) {
    const std::string names[][3] = {{"none", "n", "0"}, {"odd", "o", "1"}, {"even", "e", "2"}};
    std::string lower;
    for (char c : text) lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    for (int i = 0; i < 3; ++i) {
        for (const std::string& n : names[i]) {
            if (lower == n) return i;
        }
    }
    return -1;
}

std::vector<int> parse_list(const std::string& text, int (*one)(const std::string&)) {
    std::vector<int> out;
    std::size_t from = 0;
    for (;;) {
        const auto comma = text.find(',', from);
        const int value = one(text.substr(from, comma - from));
        if (value < 0) return {};
        bool seen = false;
        for (int v : out) seen = seen || v == value;
        if (!seen) out.push_back(value);
        if (comma == std::string::npos) return out;
        from = comma + 1;
    }
}

std::optional<StationRange> parse_stations(const std::string& text) {
    const auto dash = text.find('-');
    long first = 0;
    long last = 0;
    if (!parse_int(text.substr(0, dash), 1, 247, first)) return std::nullopt;
    last = first;
    if (dash != std::string::npos && !parse_int(text.substr(dash + 1), first, 247, last)) {
        return std::nullopt;
    }
    return StationRange{static_cast<int>(first), static_cast<int>(last)};
}

std::optional<std::string> tcp_address_problem(const std::string& device) {
    if (device.rfind("tcp:", 0) != 0) return std::nullopt;
    const std::string rest = device.substr(4);
    std::string host;
    std::string service;
    if (!rest.empty() && rest.front() == '[') {
        const auto close = rest.find(']');
        if (close != std::string::npos && close + 1 < rest.size() && rest[close + 1] == ':') {
            host = rest.substr(1, close - 1);
            service = rest.substr(close + 2);
        }
    } else if (const auto colon = rest.rfind(':'); colon != std::string::npos) {
        host = rest.substr(0, colon);
        service = rest.substr(colon + 1);
    }
    long port = 0;
    if (host.empty() || host.find_first_of("[]") != std::string::npos ||
        !parse_int(service, 1, 65535, port)) {
        return "the device \"" + device +
               "\" is not tcp:HOST:PORT with a host and a port from 1 to 65535";
    }
    return std::nullopt;
}

}  // namespace regwire_tool
