// SPDX-License-Identifier: MIT
// The few command-line options of the benchmark programs: "--name value" and
// "--flag". Unknown options are an error, so a typo cannot pass unnoticed.
#pragma once

#include <map>
#include <set>
#include <string>

namespace perf {

class Args {
  public:
    // `valued`: options that take a value; `flags`: options that do not.
    Args(int argc, char** argv, const std::set<std::string>& valued,
         const std::set<std::string>& flags);

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }

    bool flag(const std::string& name) const { return flags_.count(name) != 0; }
    // The option's value as a whole number >= minimum; `fallback` when absent.
    // A malformed or too small value makes ok() false.
    long number(const std::string& name, long fallback, long minimum = 1);

  private:
    std::map<std::string, std::string> values_;
    std::set<std::string> flags_;
    std::string error_;
};

}  // namespace perf
