// SPDX-License-Identifier: MIT
// What the simulator saw and did, written as key=value lines.
#pragma once

#include <map>
#include <string>

namespace benchslave {

class Counters {
  public:
    Counters();
    void add(const std::string& key, long amount = 1);
    void set(const std::string& key, long value);
    long get(const std::string& key) const;
    // key=value lines in a fixed order.
    std::string text() const;
    // Replaces the file atomically (write a sibling, then rename), so a reader
    // never sees half a file. Returns false if it could not.
    bool write_file(const std::string& path) const;

  private:
    std::map<std::string, long> values_;
};

}  // namespace benchslave
