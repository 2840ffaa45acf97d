// SPDX-License-Identifier: MIT
#include "printable.h"

#include <cstdio>

namespace regwire_tool {

namespace {

void escape(std::string& out, unsigned char byte) {
    char buf[5];
    std::snprintf(buf, sizeof buf, "\\x%02x", byte);
    out += buf;
}

// The length of the valid UTF-8 sequence at `s` (2..4 bytes) that is no C1
// control, or 0.
std::size_t utf8_length(std::string_view s) {
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char lead = b(0);
    std::size_t n = 0;
    unsigned char lo = 0x80;
    unsigned char hi = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        n = 2;
        if (lead == 0xC2) lo = 0xA0;  // U+0080..U+009F are the C1 controls
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        n = 3;
        if (lead == 0xE0) lo = 0xA0;  // no overlong forms
        if (lead == 0xED) hi = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        n = 4;
        if (lead == 0xF0) lo = 0x90;
        if (lead == 0xF4) hi = 0x8F;
    }
    if (n == 0 || s.size() < n || b(1) < lo || b(1) > hi) return 0;
    for (std::size_t i = 2; i < n; ++i) {
        if (b(i) < 0x80 || b(i) > 0xBF) return 0;
    }
    return n;
}

}  // namespace

std::string printable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        const auto c = static_cast<unsigned char>(text.front());
        std::size_t n = 1;
        if (c == '\\') {
            out += "\\\\";
        } else if (c < 0x20 || c == 0x7F) {
            escape(out, c);
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else if ((n = utf8_length(text)) > 0) {
            out.append(text.substr(0, n));
        } else {
            n = 1;
            escape(out, c);
        }
        text.remove_prefix(n);
    }
    return out;
}

}  // namespace regwire_tool
