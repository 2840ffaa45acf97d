// SPDX-License-Identifier: MIT
// Properties of the lenient number parse over arbitrary text.
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/numbers.h"
#include "fuzz_check.h"

namespace {

using fuzzcheck::describe;
using fuzzcheck::fail;
using fuzzcheck::sameDouble;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

int radixDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 99;
}

// The value a blank-free text must have when it is a short decimal integer or a
// short &H / &O integer, computed in integers; empty when the text is not such.
std::optional<double> shortIntegerValue(std::string_view s) {
    std::size_t i = 0;
    double sign = 1;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        sign = s[i] == '-' ? -1 : 1;
        ++i;
    }
    // At most 15 digits, so the integer is exact in a double.
    if (i < s.size() && isDigit(s[i])) {
        int64_t value = 0;
        std::size_t digits = 0;
        while (i < s.size() && isDigit(s[i])) {
            value = value * 10 + (s[i] - '0');
            ++i;
            if (++digits > 15) return std::nullopt;
        }
        if (i < s.size() && std::string_view(".EeDd").find(s[i]) != std::string_view::npos) {
            return std::nullopt;
        }
        return sign * static_cast<double>(value);
    }
    // Unsigned &H / &O only: at most 52 bits, ended by the text or a non-digit.
    if (i == 0 && i + 1 < s.size() && s[i] == '&') {
        const char kind = s[i + 1];
        const int radix = (kind == 'H' || kind == 'h') ? 16 : (kind == 'O' || kind == 'o') ? 8 : 0;
        if (radix == 0) return std::nullopt;
        const std::size_t maxDigits = radix == 16 ? 13 : 17;
        i += 2;
        uint64_t value = 0;
        std::size_t digits = 0;
        while (i < s.size() && radixDigit(s[i]) < radix) {
            value = value * static_cast<uint64_t>(radix) + static_cast<uint64_t>(radixDigit(s[i]));
            ++i;
            if (++digits > maxDigits) return std::nullopt;
        }
        return static_cast<double>(value);
    }
    return std::nullopt;
}

void expectSame(std::string_view property, std::string_view input, std::string_view other,
                double expected, double got) {
    if (!sameDouble(expected, got)) {
        fail(property, input,
             "text " + fuzzcheck::quotedText(other) + " gave " + describe(got) + ", expected " +
                 describe(expected));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const double value = bench::parseLenient(text);

    if (std::isnan(value)) fail("the parse never gives NaN", text, "got " + describe(value));

    // Blanks anywhere do not count: removed ...
    const std::string bare = fuzzcheck::withoutBlanks(text);
    expectSame("removing blanks keeps the value", text, bare, value, bench::parseLenient(bare));

    // ... one after every character ...
    static constexpr char kBlanks[] = {' ', '\t', '\n'};
    std::string spread;
    for (std::size_t k = 0; k < text.size(); ++k) {
        spread.push_back(text[k]);
        spread.push_back(kBlanks[k % 3]);
    }
    expectSame("a blank after every character keeps the value", text, spread, value,
               bench::parseLenient(spread));

    // ... or a few at places chosen by the input.
    fuzzcheck::InputRandom random(text);
    std::string sprinkled;
    for (std::size_t k = 0; k <= text.size(); ++k) {
        while (random.below(3) == 0) sprinkled.push_back(kBlanks[random.below(3)]);
        if (k < text.size()) sprinkled.push_back(text[k]);
    }
    expectSame("blanks inserted at places keep the value", text, sprinkled, value,
               bench::parseLenient(sprinkled));

    // Short integers are exact.
    if (const auto expected = shortIntegerValue(bare)) {
        if (*expected != value) {
            fail("a short integer parses exactly", text,
                 "got " + describe(value) + ", expected " + describe(*expected));
        }
    }

    // Without a digit or '&' there is no number at the head.
    if (bare.find_first_of("0123456789&") == std::string::npos && value != 0) {
        fail("text without digits parses as 0", text, "got " + describe(value));
    }

    // Text that cannot start a number, put in front, hides any number behind it.
    static constexpr std::string_view kPrefixes[] = {"x", "#", "?", " Z", "\t=", "$ 1"};
    const std::string prefixed = std::string(kPrefixes[random.below(6)]) + std::string(text);
    const double prefixedValue = bench::parseLenient(prefixed);
    if (prefixedValue != 0) {
        fail("a digit-free head gives 0", text,
             "text " + fuzzcheck::quotedText(prefixed) + " gave " + describe(prefixedValue));
    }

    // A character that cannot continue any number, appended, changes nothing.
    static constexpr std::string_view kEnds[] = {"x", ";", "#", "/", " ?"};
    const std::string ended = std::string(text) + std::string(kEnds[random.below(5)]);
    expectSame("a stop character after the text keeps the value", text, ended, value,
               bench::parseLenient(ended));

    // Signs: '+' changes nothing and '-' negates a decimal number.
    if (bare.empty() || (bare[0] != '+' && bare[0] != '-' && bare[0] != '&')) {
        const std::string plus = "+" + std::string(text);
        expectSame("a leading '+' keeps the value", text, plus, value, bench::parseLenient(plus));
        const std::string minus = "-" + std::string(text);
        const double negated = bench::parseLenient(minus);
        if (negated != -value) {
            fail("a leading '-' negates the value", text,
                 "text " + fuzzcheck::quotedText(minus) + " gave " + describe(negated) +
                     ", expected " + describe(-value));
        }
    }
    return 0;
}
