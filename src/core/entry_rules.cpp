// SPDX-License-Identifier: MIT
#include "core/entry_rules.h"

#include "core/numbers.h"

namespace bench {

EntryRange entryRange(EntryField field) {
    switch (field) {
        case EntryField::ReadCount:
        case EntryField::WriteCount:
            return {1, 64, "8"};
        case EntryField::ReadStart:
        case EntryField::WriteStart:
            return {0, 65535, "1"};
    }
    return {0, 0, "1"};
}

std::optional<std::string> entryCorrection(EntryField field, std::string_view text) {
    const EntryRange range = entryRange(field);
    const double v = parseLenient(text);
    // A number beyond the double range parses as an infinity and so falls outside.
    if (v > range.high || v < range.low) return std::string(range.replacement);
    return std::nullopt;
}

}  // namespace bench
