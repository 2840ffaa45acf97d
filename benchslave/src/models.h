// SPDX-License-Identifier: MIT
// When a slave's replies leave, as real devices do it: one that works on one
// request at a time (queueing or dropping what arrives meanwhile), or one whose
// replies are each due their delay after their own request. No I/O here.
#pragma once

#include <chrono>
#include <cstdint>
#include <random>

#include "options.h"

namespace benchslave {

using Clock = std::chrono::steady_clock;

class Schedule {
  public:
    // in_order: replies leave in the order of their requests (one serial line).
    Schedule(Busy busy, bool in_order) : busy_(busy), in_order_(in_order) {}

    // A request arriving at `now` is ignored: the slave is busy and drops it.
    bool drops(Clock::time_point now) const { return busy_ == Busy::Drop && now < busy_until_; }
    // It waits for the slave to finish the ones before it.
    bool waits(Clock::time_point now) const { return busy_ == Busy::Queue && now < busy_until_; }
    // Takes up a request arriving at `now` that keeps the slave busy for `delay`;
    // returns when its reply leaves.
    Clock::time_point take(Clock::time_point now, std::chrono::milliseconds delay);

  private:
    Busy busy_;
    bool in_order_;
    Clock::time_point busy_until_{};
    Clock::time_point last_due_{};
};

// Seeded chance, so that runs repeat.
class Dice {
  public:
    explicit Dice(std::uint32_t seed) : generator_(seed) {}
    int between(int min, int max);
    bool one_in(unsigned n);

  private:
    std::mt19937 generator_;
};

}  // namespace benchslave
