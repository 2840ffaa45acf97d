// SPDX-License-Identifier: MIT
// Shared pieces of the fuzz targets: the entry point every target defines, and how a
// broken property is reported. A failure prints the property, the input and the
// values involved, then aborts, which both libFuzzer and the corpus replay treat as
// a failed input.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fuzzcheck {

// The input as a C string literal, so it can be pasted into a test.
inline std::string quotedText(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else if (u < 0x20 || u >= 0x7f) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x\"\"", u);  // "" stops a following hex digit
            out += buf;
        } else {
            out.push_back(c);
        }
    }
    out.push_back('"');
    return out;
}

// A double with all its digits and its exact bits.
inline std::string describe(double value) {
    char buf[80];
    std::snprintf(buf, sizeof buf, "%.17g (%a)", value, value);
    return buf;
}

inline std::string describe(std::optional<int32_t> value) {
    return value ? std::to_string(*value) : std::string("nullopt");
}

inline std::string describe(const std::optional<std::string>& value) {
    return value ? quotedText(*value) : std::string("nullopt");
}

[[noreturn]] inline void fail(std::string_view property, std::string_view input,
                              const std::string& detail) {
    std::fprintf(stderr, "\nPROPERTY BROKEN: %.*s\n  input: %s\n  %s\n",
                 static_cast<int>(property.size()), property.data(), quotedText(input).c_str(),
                 detail.c_str());
    std::fflush(stderr);
    std::abort();
}

// Equal including the sign of zero; NaN equals NaN so that a NaN is reported by
// its own property rather than as a difference.
inline bool sameDouble(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
    return a == b && std::signbit(a) == std::signbit(b);
}

inline bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n';
}

inline std::string withoutBlanks(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (!isBlank(c)) out.push_back(c);
    }
    return out;
}

// Small deterministic generator seeded from the input, so every derived text is
// the same on each run of the same input.
class InputRandom {
  public:
    explicit InputRandom(std::string_view text) {
        uint64_t h = 0xcbf29ce484222325ULL;  // FNV-1a
        for (const char c : text) {
            h ^= static_cast<unsigned char>(c);
            h *= 0x100000001b3ULL;
        }
        state_ = h | 1;
    }
    uint64_t next() {  // xorshift64
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return state_;
    }
    std::size_t below(std::size_t n) { return static_cast<std::size_t>(next() % n); }

  private:
    uint64_t state_;
};

}  // namespace fuzzcheck
