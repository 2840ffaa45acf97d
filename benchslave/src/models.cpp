// SPDX-License-Identifier: MIT
#include "models.h"

#include <algorithm>

namespace benchslave {

Clock::time_point Schedule::take(Clock::time_point now, std::chrono::milliseconds delay) {
    Clock::time_point due = now + delay;
    if (busy_ == Busy::Queue) {
        due = std::max(now, busy_until_) + delay;
    } else if (in_order_ && busy_ == Busy::Overlap) {
        due = std::max(due, last_due_);
    }
    busy_until_ = due;
    last_due_ = due;
    return due;
}

int Dice::between(int min, int max) {
    return std::uniform_int_distribution<int>(min, max)(generator_);
}

bool Dice::one_in(unsigned n) {
    return std::uniform_int_distribution<unsigned>(1, n)(generator_) == 1;
}

}  // namespace benchslave
