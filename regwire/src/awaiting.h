// SPDX-License-Identifier: MIT
// The requests on a serial line that may still be answered, and the rule that
// keeps values true: a reply is taken as a request's only when no other request
// still awaiting an answer could have produced it. A function 03 reply names
// neither address nor request, so the rule looks only at what a reply shows: its
// shape (pdu.h).
//
// A request awaits its answer from its send until its reply is taken or its
// horizon passes (the longest a slave is allowed to take). A request whose reply
// was taken may still be answered once more for a short while (a slave or a
// line that sends replies twice): its shape stays in use until then.
#pragma once

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
    // reply is taken, its shape stays in use for `repeat_window` more.
    void add(const pdu::Shape& shape, Clock::time_point sent, Clock::time_point horizon,
             Clock::duration repeat_window);

    // Forgets what can no longer be answered at `now`.
    void expire(Clock::time_point now);

    // Until when a reply of this shape may still come: for a request awaiting
    // its answer, or also (`repeats`) as a repeat of a reply already taken.
    std::optional<Clock::time_point> in_use_until(const pdu::Shape& shape, bool repeats) const;

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
        Clock::time_point until() const { return answered ? *answered + repeat_window : horizon; }
    };
    std::deque<Entry> entries_;  // oldest first
};

}  // namespace regwire
