// SPDX-License-Identifier: MIT
// Properties of the entry fields' range rules over arbitrary text, for all four
// fields.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/entry_rules.h"
#include "core/numbers.h"
#include "fuzz_check.h"

namespace {

using fuzzcheck::describe;
using fuzzcheck::fail;

struct FieldRule {
    bench::EntryField field;
    const char* name;
    double low;
    double high;
    std::string_view replacement;
};

// The fields' ranges as the window must enforce them: counts 1..64, addresses 0..65535.
constexpr FieldRule kRules[] = {
    {bench::EntryField::ReadCount, "ReadCount", 1, 64, "8"},
    {bench::EntryField::ReadStart, "ReadStart", 0, 65535, "1"},
    {bench::EntryField::WriteStart, "WriteStart", 0, 65535, "1"},
    {bench::EntryField::WriteCount, "WriteCount", 1, 64, "8"},
};

bool inRange(const FieldRule& rule, double value) {
    return value >= rule.low && value <= rule.high;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const double value = bench::parseLenient(text);
    const std::string bare = fuzzcheck::withoutBlanks(text);

    for (const FieldRule& rule : kRules) {
        const std::string where = std::string(rule.name) + ": ";
        const std::optional<std::string> correction = bench::entryCorrection(rule.field, text);

        if (inRange(rule, value)) {
            if (correction) {
                fail("a value in range is left alone", text,
                     where + "value " + describe(value) + " was corrected to " +
                         describe(correction));
            }
        } else {
            if (!correction || *correction != rule.replacement) {
                fail("a value out of range gets the field's replacement", text,
                     where + "value " + describe(value) + " gave " + describe(correction));
            }
            const double corrected = bench::parseLenient(*correction);
            if (!inRange(rule, corrected)) {
                fail("the corrected text lies in range", text,
                     where + "correction " + describe(correction) + " parses as " +
                         describe(corrected));
            }
            const std::optional<std::string> again =
                bench::entryCorrection(rule.field, *correction);
            if (again) {
                fail("a corrected text needs no further correction", text,
                     where + "correction " + describe(correction) + " was corrected again to " +
                         describe(again));
            }
        }

        if (bench::entryCorrection(rule.field, bare) != correction) {
            fail("blanks do not change the correction", text,
                 where + "with blanks " + describe(correction) + ", without " +
                     describe(bench::entryCorrection(rule.field, bare)));
        }
    }
    return 0;
}
