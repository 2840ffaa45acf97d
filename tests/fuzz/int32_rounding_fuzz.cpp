// SPDX-License-Identifier: MIT
// Properties of rounding to a 32-bit integer: doubles taken from the raw input
// bytes, halves and near-halves around integers built from the bytes (random
// doubles are almost never exact halves), and the parsed value of the input.
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "core/numbers.h"
#include "fuzz_check.h"

namespace {

using fuzzcheck::describe;
using fuzzcheck::fail;

// Nearest integer with halves to even, from the magnitude's floor; for a
// non-negative a, a - floor(a) is exact.
double roundedByFloor(double x) {
    const double a = std::fabs(x);
    const double low = std::floor(a);
    const double fraction = a - low;
    double r = low + 1;
    if (fraction < 0.5 || (fraction == 0.5 && std::fmod(low, 2.0) == 0)) r = low;
    return std::copysign(r, x);
}

// The same from the IEEE remainder, whose quotient rounds halves to even.
double roundedByRemainder(double x) {
    return x - std::remainder(x, 1.0);
}

// What roundToInt32 must give for x.
std::optional<int32_t> expectedInt32(double x, std::string_view input) {
    if (!std::isfinite(x)) return std::nullopt;
    const double byFloor = roundedByFloor(x);
    const double byRemainder = roundedByRemainder(x);
    if (byFloor != byRemainder) {
        fail("the two rounding oracles agree", input,
             "for " + describe(x) + ": floor gives " + describe(byFloor) + ", remainder gives " +
                 describe(byRemainder));
    }
    if (byFloor < -2147483648.0 || byFloor > 2147483647.0) return std::nullopt;
    return static_cast<int32_t>(byFloor);
}

void check(double x, std::string_view input) {
    const std::optional<int32_t> got = bench::roundToInt32(x);
    const std::optional<int32_t> expected = expectedInt32(x, input);
    if (got != expected) {
        fail("roundToInt32 rounds halves to even and reports overflow", input,
             "for " + describe(x) + " got " + describe(got) + ", expected " + describe(expected));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    check(std::numeric_limits<double>::quiet_NaN(), text);

    // Every whole 8-byte group as a double.
    for (std::size_t at = 0; at + sizeof(double) <= size; at += sizeof(double)) {
        double x;
        std::memcpy(&x, data + at, sizeof x);
        check(x, text);
    }

    // Integers near zero or near the 32-bit limits, with fractions at and beside
    // one half, taken from the first bytes.
    if (size >= 4) {
        uint32_t bits;
        std::memcpy(&bits, data, sizeof bits);
        static constexpr std::array<double, 4> kBases = {0.0, 2147483648.0, -2147483648.0,
                                                         4294967296.0};
        const double base = kBases[bits & 3u];
        const double offset = static_cast<double>(static_cast<int32_t>((bits >> 2) % 1024u) - 512);
        const double whole = base + offset;
        const double half = std::nextafter(0.5, 0.0);
        const std::array<double, 7> fractions = {0.0, 0.5, -0.5, 0.25, half, 1.0 - half, -half};
        for (const double f : fractions) {
            check(whole + f, text);
            check(-(whole + f), text);
        }
    }

    // The parsed value, and parseInt32 as parse then round.
    const double parsed = bench::parseLenient(text);
    check(parsed, text);
    const std::optional<int32_t> viaText = bench::parseInt32(text);
    if (viaText != expectedInt32(parsed, text)) {
        fail("parseInt32 is the parse rounded", text,
             "parsed " + describe(parsed) + ", parseInt32 gave " + describe(viaText));
    }
    return 0;
}
