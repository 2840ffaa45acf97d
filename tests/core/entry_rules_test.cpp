// SPDX-License-Identifier: MIT
#include "core/entry_rules.h"

#include <gtest/gtest.h>

#include "param_name.h"

namespace bench {
namespace {

struct RuleCase {
    EntryField field;
    const char* text;
    std::optional<std::string> replacement;
};

class EntryCorrection : public ::testing::TestWithParam<RuleCase> {};

TEST_P(EntryCorrection, ReplacesOnlyNumbersOutsideTheRange) {
    const RuleCase& r = GetParam();
    EXPECT_EQ(entryCorrection(r.field, r.text), r.replacement) << "text: \"" << r.text << "\"";
}

constexpr auto kCount = EntryField::ReadCount;
constexpr auto kWriteCount = EntryField::WriteCount;
constexpr auto kAddress = EntryField::ReadStart;
constexpr auto kWriteAddress = EntryField::WriteStart;
const std::optional<std::string> kStays;

std::string caseName(const ::testing::TestParamInfo<RuleCase>& info) {
    const char* field = "";
    switch (info.param.field) {
        case kCount:
            field = "ReadCount";
            break;
        case kWriteCount:
            field = "WriteCount";
            break;
        case kAddress:
            field = "ReadStart";
            break;
        case kWriteAddress:
            field = "WriteStart";
            break;
    }
    return std::string(field) + "_" + testnames::fromText(info.param.text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EntryCorrection,
    ::testing::Values(
        RuleCase{kCount, "", "8"}, RuleCase{kCount, "0", "8"}, RuleCase{kCount, "-1", "8"},
        RuleCase{kCount, "a1", "8"}, RuleCase{kCount, "65", "8"}, RuleCase{kCount, "64.5", "8"},
        RuleCase{kCount, "80", "8"}, RuleCase{kCount, "0.99", "8"}, RuleCase{kCount, "1", kStays},
        RuleCase{kCount, "64", kStays}, RuleCase{kCount, "1.5", kStays},
        RuleCase{kCount, "12abc", kStays}, RuleCase{kWriteCount, "65", "8"},
        RuleCase{kWriteCount, "32", kStays}, RuleCase{kCount, "1E999", "8"},
        RuleCase{kAddress, "", kStays}, RuleCase{kAddress, "abc", kStays},
        RuleCase{kAddress, "0", kStays}, RuleCase{kAddress, "65535", kStays},
        RuleCase{kAddress, "-1", "1"}, RuleCase{kAddress, "65536", "1"},
        RuleCase{kAddress, "65535.5", "1"}, RuleCase{kAddress, "-0.5", "1"},
        RuleCase{kWriteAddress, "1E999", "1"}, RuleCase{kWriteAddress, "-1E999", "1"},
        RuleCase{kWriteAddress, "&HFFFF", kStays}, RuleCase{kWriteAddress, "&H10000", "1"}),
    caseName);

TEST(EntryRange, ReplacementsLieInsideTheirRanges) {
    for (EntryField field : {kCount, kAddress, kWriteAddress, kWriteCount}) {
        const EntryRange range = entryRange(field);
        EXPECT_EQ(entryCorrection(field, range.replacement), kStays);
    }
}

}  // namespace
}  // namespace bench
