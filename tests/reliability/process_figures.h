// Figures of this process for the long-running tests (open descriptors, resident
// memory) and the length of a run: the suite's short one, or the full one that
// scripts/soak asks for with RELIABILITY_SCALE=full.
#pragma once

#include <dirent.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

namespace reliability {

// RELIABILITY_SCALE=full selects the full-length runs.
inline bool full_scale() {
    const char* s = std::getenv("RELIABILITY_SCALE");
    return s != nullptr && std::string(s) == "full";
}

inline long scaled(long suite, long full) { return full_scale() ? full : suite; }

// RELIABILITY_SEED overrides a test's fixed seed (scripts/soak passes a fresh one).
inline std::uint64_t seed_or(std::uint64_t fallback) {
    const char* s = std::getenv("RELIABILITY_SEED");
    if (s == nullptr || *s == '\0') return fallback;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(s, &end, 10);
    return *end == '\0' ? static_cast<std::uint64_t>(v) : fallback;
}

inline int open_descriptors() {
    int n = 0;
    DIR* d = ::opendir("/proc/self/fd");
    if (d == nullptr) return -1;
    while (const dirent* e = ::readdir(d)) {
        if (e->d_name[0] != '.') ++n;
    }
    ::closedir(d);
    return n - 1;  // the directory stream's own descriptor
}

// VmRSS in KiB, -1 if unreadable.
inline long resident_kib() {
    std::ifstream in("/proc/self/status");
    std::string key;
    while (in >> key) {
        if (key == "VmRSS:") {
            long kib = -1;
            in >> kib;
            return kib;
        }
        in.ignore(4096, '\n');
    }
    return -1;
}

}  // namespace reliability
