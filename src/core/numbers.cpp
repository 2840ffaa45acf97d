// SPDX-License-Identifier: MIT
#include "core/numbers.h"

#include <locale.h>

#include <cmath>
#include <cstdlib>
#include <limits>

namespace bench {
namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n';
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

char upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// The C locale, whose decimal point is '.', whatever locale the process runs in:
// QApplication adopts the user's, where strtod would expect a decimal comma.
locale_t classicLocale() {
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return locale;
}

int digitValue(char c) {
    if (isDigit(c)) return c - '0';
    const char u = upper(c);
    if (u >= 'A' && u <= 'F') return u - 'A' + 10;
    return 99;
}

// Integer after &H or &O. The value is exact for up to 53 bits; longer texts
// grow towards infinity, which the callers treat as overflow.
double parseRadix(std::string_view digits, int radix, double sign) {
    double value = 0;
    for (char c : digits) {
        const int d = digitValue(c);
        if (d >= radix) break;
        value = value * radix + d;
    }
    return sign * value;
}

}  // namespace

double parseLenient(std::string_view text) {
    // Blanks may stand anywhere, also inside the number: drop them first.
    std::string s;
    s.reserve(text.size());
    for (char c : text) {
        if (!isBlank(c)) s.push_back(c);
    }

    std::size_t i = 0;
    double sign = 1;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        if (s[i] == '-') sign = -1;
        ++i;
    }
    if (i + 1 < s.size() && s[i] == '&') {
        const char kind = upper(s[i + 1]);
        if (kind == 'H') return parseRadix(std::string_view(s).substr(i + 2), 16, sign);
        if (kind == 'O') return parseRadix(std::string_view(s).substr(i + 2), 8, sign);
    }

    // Collect the longest prefix that forms a decimal number, in the C syntax of strtod.
    std::string number = "0";
    bool anyDigit = false;
    while (i < s.size() && isDigit(s[i])) {
        number.push_back(s[i++]);
        anyDigit = true;
    }
    if (i < s.size() && s[i] == '.') {
        ++i;
        number.push_back('.');
        while (i < s.size() && isDigit(s[i])) {
            number.push_back(s[i++]);
            anyDigit = true;
        }
    }
    if (!anyDigit) return 0.0;
    if (i < s.size() && (upper(s[i]) == 'E' || upper(s[i]) == 'D')) {
        std::size_t j = i + 1;
        std::string exponent = "e";
        if (j < s.size() && (s[j] == '+' || s[j] == '-')) exponent.push_back(s[j++]);
        bool expDigit = false;
        while (j < s.size() && isDigit(s[j])) {
            exponent.push_back(s[j++]);
            expDigit = true;
        }
        if (expDigit) number += exponent;
    }
    const double value = strtod_l(number.c_str(), nullptr, classicLocale());
    return sign * value;
}

std::optional<int32_t> roundToInt32(double value) {
    if (std::isnan(value)) return std::nullopt;
    // nearbyint rounds halves to even in the default rounding mode.
    const double rounded = std::nearbyint(value);
    if (rounded < static_cast<double>(std::numeric_limits<int32_t>::min()) ||
        rounded > static_cast<double>(std::numeric_limits<int32_t>::max())) {
        return std::nullopt;
    }
    return static_cast<int32_t>(rounded);
}

std::optional<int32_t> parseInt32(std::string_view text) {
    return roundToInt32(parseLenient(text));
}

std::string decimalText(int64_t value) {
    return std::to_string(value);
}

}  // namespace bench
