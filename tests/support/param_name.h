// SPDX-License-Identifier: MIT
// Readable names for the cases of parameterised tests. GoogleTest takes only letters,
// digits and underscores, so every other character of a case's text is spelled out:
// "6 " is 6_blank, "-1E999" minus_1E999, "" empty. The names are the same in every
// build and locale, so failure lists and name patterns can be reused.
#pragma once

#include <charconv>
#include <cstdio>
#include <string>
#include <string_view>

namespace testnames {

inline bool letterOrDigit(char ch) {
    return (ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z');
}

inline std::string spelled(char ch) {
    switch (ch) {
        case ' ':
            return "blank";
        case '\t':
            return "tab";
        case '\n':
            return "newline";
        case '\r':
            return "return";
        case '-':
            return "minus";
        case '+':
            return "plus";
        case '.':
            return "point";
        case ',':
            return "comma";
        case ':':
            return "colon";
        case '&':
            return "amp";
        case '_':
            return "underscore";
        default: {
            char hex[8];
            std::snprintf(hex, sizeof hex, "x%02X", static_cast<unsigned char>(ch));
            return hex;
        }
    }
}

inline std::string fromText(std::string_view text) {
    if (text.empty()) return "empty";
    std::string name;
    bool inWord = false;
    for (char ch : text) {
        const bool word = letterOrDigit(ch);
        if (!name.empty() && !(word && inWord)) name += '_';
        name += word ? std::string(1, ch) : spelled(ch);
        inWord = word;
    }
    return name;
}

// The shortest text that gives the number back, whatever the locale: 2.5 is
// 2_point_5, -3 minus_3.
inline std::string fromNumber(double value) {
    char text[64];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return fromText(std::string_view(text, static_cast<std::size_t>(end - text)));
}

}  // namespace testnames
