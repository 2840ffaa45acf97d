// SPDX-License-Identifier: MIT
// Range rules of the four entry fields: whatever text a field receives, the number
// at its head must lie in the field's inclusive range, or the field is given its
// replacement text.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace bench {

enum class EntryField { ReadCount, ReadStart, WriteStart, WriteCount };  // Text1 .. Text4

struct EntryRange {
    double low;
    double high;
    const char* replacement;
};

EntryRange entryRange(EntryField field);

// The text the field must be given instead of `text`, or nothing when `text` may stay.
// The unrounded number is compared, so a fraction inside the range stays.
std::optional<std::string> entryCorrection(EntryField field, std::string_view text);

}  // namespace bench
