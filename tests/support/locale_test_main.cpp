// SPDX-License-Identifier: MIT
// main of the tests of pure rules: the process takes the environment's locale, as
// a program does, so the rules are also tested where the decimal point is a comma.
#include <gtest/gtest.h>

#include <clocale>

#include "environment_locale.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    std::setlocale(LC_ALL, "");
    if (!bench::testing::environmentLocaleTaken()) return 1;
    return RUN_ALL_TESTS();
}
