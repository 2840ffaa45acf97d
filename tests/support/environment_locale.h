// SPDX-License-Identifier: MIT
// The tests run in the locale the environment names (LC_ALL), as the programs do
// once QApplication has adopted the user's. A named locale the process could not
// take fails the run, so a missing locale never lets a run pass in "C" unnoticed.
#pragma once

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace bench::testing {

// True when the process runs in the locale LC_ALL names (or LC_ALL is unset).
inline bool environmentLocaleTaken() {
    const char* wanted = std::getenv("LC_ALL");
    if (wanted == nullptr || *wanted == '\0') return true;
    const char* current = std::setlocale(LC_ALL, nullptr);
    if (current != nullptr && std::string_view(current) == wanted) return true;
    std::fprintf(stderr, "locale %s is not available (scripts/setup generates it)\n", wanted);
    return false;
}

}  // namespace bench::testing
