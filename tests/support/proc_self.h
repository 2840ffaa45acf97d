// SPDX-License-Identifier: MIT
// Figures of this test process that long runs watch: open descriptors and
// resident memory, read from /proc/self.
#pragma once

#include <dirent.h>

#include <fstream>
#include <string>

namespace proc_self {

// Open descriptors, not counting the one used to count them; -1 if unreadable.
inline int open_descriptors() {
    int n = 0;
    DIR* d = ::opendir("/proc/self/fd");
    if (d == nullptr) return -1;
    while (const dirent* e = ::readdir(d)) {
        if (e->d_name[0] != '.') ++n;
    }
    ::closedir(d);
    return n - 1;
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

}  // namespace proc_self
