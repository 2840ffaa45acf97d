// SPDX-License-Identifier: MIT
#include "core/numbers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "param_name.h"

namespace bench {
namespace {

struct ParseCase {
    const char* text;
    double expected;
};

class LenientParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(LenientParse, GivesTheLeadingNumber) {
    const auto& c = GetParam();
    EXPECT_DOUBLE_EQ(parseLenient(c.text), c.expected) << "text: \"" << c.text << "\"";
}

INSTANTIATE_TEST_SUITE_P(
    Texts, LenientParse,
    ::testing::Values(ParseCase{"6 ", 6}, ParseCase{"3:38400 ", 3}, ParseCase{"12abc", 12},
                      ParseCase{"", 0}, ParseCase{"abc", 0}, ParseCase{"  42", 42},
                      ParseCase{"1 2 3", 123}, ParseCase{"\t1\n0", 10}, ParseCase{"- 5", -5},
                      ParseCase{"+7", 7}, ParseCase{"-", 0}, ParseCase{"2.5", 2.5},
                      ParseCase{".5", 0.5}, ParseCase{"5.", 5}, ParseCase{".", 0},
                      ParseCase{"1.2.3", 1.2}, ParseCase{"1E3", 1000}, ParseCase{"1e-2", 0.01},
                      ParseCase{"2D2", 200}, ParseCase{"2d+1", 20}, ParseCase{"1E", 1},
                      ParseCase{"1E+", 1}, ParseCase{"1 E 2", 100}, ParseCase{"&H1F", 31},
                      ParseCase{"&hff", 255}, ParseCase{"&O17", 15}, ParseCase{"&o8", 0},
                      ParseCase{"&HG", 0}, ParseCase{"&", 0}, ParseCase{"-&H10", -16},
                      ParseCase{"0x10", 0}, ParseCase{"007", 7}, ParseCase{"65535.5", 65535.5},
                      ParseCase{"-1", -1}, ParseCase{"2\r.5", 2}, ParseCase{"6\r4", 6},
                      ParseCase{"\r-5", 0}),
    [](const auto& p) { return testnames::fromText(p.param.text); });

TEST(LenientParse, HugeExponentGivesInfinityOfItsSign) {
    EXPECT_EQ(parseLenient("1E999"), std::numeric_limits<double>::infinity());
    EXPECT_EQ(parseLenient("-1E999"), -std::numeric_limits<double>::infinity());
    EXPECT_EQ(parseLenient("1E-999"), 0.0);
}

struct RoundCase {
    double value;
    std::optional<int32_t> expected;
};

class RoundToInt32 : public ::testing::TestWithParam<RoundCase> {};

TEST_P(RoundToInt32, HalvesToEvenAndReportsOverflow) {
    const auto& c = GetParam();
    EXPECT_EQ(roundToInt32(c.value), c.expected) << "value: " << c.value;
}

INSTANTIATE_TEST_SUITE_P(
    Values, RoundToInt32,
    ::testing::Values(RoundCase{2.5, 2}, RoundCase{3.5, 4}, RoundCase{-2.5, -2},
                      RoundCase{-3.5, -4}, RoundCase{0.5, 0}, RoundCase{1.5, 2},
                      RoundCase{2.4999, 2}, RoundCase{2.5001, 3}, RoundCase{-0.4, 0},
                      RoundCase{2147483647.0, 2147483647}, RoundCase{2147483647.4, 2147483647},
                      RoundCase{2147483647.5, std::nullopt},  // rounds to 2^31 (even)
                      RoundCase{2147483648.0, std::nullopt},
                      RoundCase{-2147483648.0, -2147483647 - 1},
                      RoundCase{-2147483648.5, -2147483647 - 1},  // halves to even: -2^31
                      RoundCase{-2147483649.0, std::nullopt},
                      RoundCase{99999999999.0, std::nullopt},
                      RoundCase{std::numeric_limits<double>::infinity(), std::nullopt},
                      RoundCase{std::nan(""), std::nullopt}),
    [](const auto& p) { return testnames::fromNumber(p.param.value); });

TEST(ParseInt32, CombinesParseAndRounding) {
    EXPECT_EQ(parseInt32("6 "), 6);
    EXPECT_EQ(parseInt32("12.5"), 12);
    EXPECT_EQ(parseInt32("13.5"), 14);
    EXPECT_EQ(parseInt32("99999999999"), std::nullopt);
    EXPECT_EQ(parseInt32("x"), 0);
}

TEST(DecimalText, IsPlain) {
    EXPECT_EQ(decimalText(0), "0");
    EXPECT_EQ(decimalText(-1), "-1");
    EXPECT_EQ(decimalText(65598), "65598");
    EXPECT_EQ(decimalText(-2147483648LL), "-2147483648");
    EXPECT_EQ(decimalText(2147483647), "2147483647");
}

}  // namespace
}  // namespace bench
