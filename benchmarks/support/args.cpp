// SPDX-License-Identifier: MIT
#include "args.h"

#include <cstdlib>

namespace perf {

Args::Args(int argc, char** argv, const std::set<std::string>& valued,
           const std::set<std::string>& flags) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (flags.count(arg) != 0) {
            flags_.insert(arg);
        } else if (valued.count(arg) != 0) {
            if (i + 1 >= argc) {
                error_ = arg + " needs a value";
                return;
            }
            values_[arg] = argv[++i];
        } else {
            error_ = "unknown option " + arg;
            return;
        }
    }
}

long Args::number(const std::string& name, long fallback, long minimum) {
    const auto it = values_.find(name);
    if (it == values_.end()) return fallback;
    char* end = nullptr;
    const long value = std::strtol(it->second.c_str(), &end, 10);
    if (it->second.empty() || *end != '\0' || value < minimum) {
        if (error_.empty()) {
            error_ = name + " needs a whole number of at least " + std::to_string(minimum);
        }
        return fallback;
    }
    return value;
}

}  // namespace perf
