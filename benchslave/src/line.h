// SPDX-License-Identifier: MIT
// What the serial line and the TCP server share: the replies waiting for their
// time, poll timeouts, writes, and the start-up line.
#pragma once

#include <deque>
#include <initializer_list>
#include <optional>
#include <string>

#include "framing.h"
#include "models.h"
#include "slave.h"

namespace benchslave {

// Framed replies waiting for their time, in the order they leave.
class Outbox {
  public:
    struct Pending {
        Clock::time_point due;
        int peer = 0;
        Bytes bytes;
    };
    void add(Clock::time_point due, int peer, Bytes bytes);
    // The next reply due by `now`, taken out.
    std::optional<Pending> take_due(Clock::time_point now);
    std::optional<Clock::time_point> next() const;
    // A peer that goes away takes its waiting replies with it.
    void forget(int peer);

  private:
    std::deque<Pending> queue_;
};

// Frames a reply (and its copy) with `frame` and puts it in the outbox for `peer`.
template <typename FrameFn>
void post(Outbox& outbox, int peer, const Outgoing& out, FrameFn frame) {
    outbox.add(out.due, peer, frame(out.label, out.pdu));
    if (out.copy_due) outbox.add(*out.copy_due, peer, frame(out.label, out.pdu));
}

// Milliseconds from `now` to the earliest deadline (rounded up), -1 for none.
int timeout_ms(Clock::time_point now,
               std::initializer_list<std::optional<Clock::time_point>> deadlines);

void make_nonblocking(int fd);

// Writes all of `bytes`, waiting up to a second for room; false if it could not.
bool send_all(int fd, const Bytes& bytes);

// Prints "benchslave: WHAT: REASON" for errno; returns the exit status 1.
int fail(const std::string& what);
// The same, for a step that returns whether it worked.
inline bool refused(const std::string& what) {
    fail(what);
    return false;
}

// Writes the counters file and prints the address a master opens.
void announce(const Slave& slave, const std::string& address);

}  // namespace benchslave

namespace benchslave {

// The serial line (a pseudo-terminal or a device) and TCP, served until a byte
// arrives on stop_fd. Return the exit status.
int serve_rtu(const Options& options, Slave& slave, int stop_fd);
int serve_tcp(const Options& options, Slave& slave, int stop_fd);

}  // namespace benchslave
