// SPDX-License-Identifier: MIT
// The number rules of the window: how text becomes a number and a number text.
// Every field, list and cell goes through these; nothing else parses numbers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace bench {

// Lenient parse: blanks, tabs and line feeds anywhere are skipped; then an optional
// sign, decimal digits with at most one point and an optional exponent (E or D);
// or &H / &O followed by a hexadecimal or octal integer. The number ends at the
// first character that cannot continue it; text without a leading number gives 0.
// A number beyond the double range gives an infinity of its sign.
double parseLenient(std::string_view text);

// Rounds to the nearest integer, halves to even. Empty when the result does not
// fit a 32-bit signed integer (or the value is not a number).
std::optional<int32_t> roundToInt32(double value);

// parseLenient followed by roundToInt32.
std::optional<int32_t> parseInt32(std::string_view text);

// Plain decimal text: "-" for negatives, no sign, blank or leading zeros otherwise.
std::string decimalText(int64_t value);

}  // namespace bench
