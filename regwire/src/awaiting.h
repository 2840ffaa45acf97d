// SPDX-License-Identifier: MIT
// The requests on a serial line that may still be answered, and the rule that
// keeps values true: a reply is taken as a request's only when no other request
// still awaiting an answer could have produced it. A function 03 reply names
// neither address nor request, so the rule looks only at what a reply shows: its
// shape (pdu.h).
//
// A request awaits its answer from its send until its reply is taken or its
// horizon passes (the longest a slave is allowed to take). A request whose reply
// was taken may be answered once more (a slave or a line that sends replies
// twice): reads avoid its shape for a short while, and once this line has been
// heard repeating a reply, its shape stays in use until its horizon, as late as
// any reply may come. Taken replies are kept until then to tell repeats.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>

#include "pdu.h"

namespace regwire {

class Awaiting {
  public:
    using Clock = std::chrono::steady_clock;

    // A request sent at `sent`, awaiting its answer until `horizon`. After its
    // reply is taken, a repeat of it is expected within `repeat_window`.
    void add(const pdu::Shape& shape, Clock::time_point sent, Clock::time_point horizon,
             Clock::duration repeat_window);

    // Forgets what can no longer be answered at `now`.
    void expire(Clock::time_point now);

    // Until when, after `now`, a reply of this shape may still come: for a request
    // awaiting its answer, for a taken one on a line heard repeating, or also
    // (`avoid_recent`) within the repeat window of a reply just taken.
    std::optional<Clock::time_point> in_use_until(const pdu::Shape& shape, bool avoid_recent,
                                                  Clock::time_point now) const;

    // This line has sent a reply twice: any taken reply may come again.
    void repeats_heard() { repeats_ = true; }

    // A whole reply PDU from `station` heard at `at`. When it fits a request still
    // awaiting its answer other than the newest (when `exclude_newest`), that
    // request is answered: its send time is returned (the slave was that late).
    // A copy of the reply an earlier request was answered with is a repeat:
    // `repeat` is set.
    std::optional<Clock::time_point> answer_earlier(int station, const uint8_t* pdu, std::size_t n,
                                                    Clock::time_point at, bool exclude_newest,
                                                    bool& repeat);

    // The newest request was answered at `at` with this reply PDU.
    void answer_newest(Clock::time_point at, const uint8_t* pdu, std::size_t n);

    // The newest request got bytes back, spoiled or not its reply: the slave
    // works on it no more, though its shape stays in use.
    void heard_newest();

    // How many requests to `station` await their answer with nothing heard, and
    // when the oldest of them stops awaiting it.
    std::size_t unanswered(int station, Clock::time_point& oldest_until) const;
    std::size_t size() const { return entries_.size(); }

  private:
    struct Entry {
        pdu::Shape shape;
        Clock::time_point sent;
        Clock::time_point horizon;
        Clock::duration repeat_window;
        std::optional<Clock::time_point> answered;
        pdu::Bytes reply;  // what it was answered with
        bool heard = false;
        Clock::time_point kept_until() const {
            return answered ? std::max(horizon, *answered + repeat_window) : horizon;
        }
    };
    // Answered requests kept at most, the oldest forgotten first: only telling
    // repeats needs them.
    static constexpr std::size_t kMostKept = 512;
    std::deque<Entry> entries_;  // oldest first
    bool repeats_ = false;
};

}  // namespace regwire
