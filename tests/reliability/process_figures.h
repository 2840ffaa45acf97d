// SPDX-License-Identifier: MIT
// Figures of this process for the long-running tests (open descriptors, resident
// memory) and the length of a run: the suite's short one, or the full one that
// scripts/soak asks for with RELIABILITY_SCALE=full.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>

#include "proc_self.h"

namespace reliability {

// RELIABILITY_SCALE=full selects the full-length runs.
inline bool full_scale() {
    const char* s = std::getenv("RELIABILITY_SCALE");
    return s != nullptr && std::string(s) == "full";
}

inline long scaled(long suite, long full) {
    return full_scale() ? full : suite;
}

// RELIABILITY_SEED overrides a test's fixed seed (scripts/soak passes a fresh one).
inline std::uint64_t seed_or(std::uint64_t fallback) {
    const char* s = std::getenv("RELIABILITY_SEED");
    if (s == nullptr || *s == '\0') return fallback;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(s, &end, 10);
    return *end == '\0' ? static_cast<std::uint64_t>(v) : fallback;
}

using proc_self::open_descriptors;
using proc_self::resident_kib;

}  // namespace reliability
