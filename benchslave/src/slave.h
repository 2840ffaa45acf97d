// SPDX-License-Identifier: MIT
// The slave behind the line: which requests it takes up, what it answers and when,
// and the counters of all it did. The line (serial or TCP) frames and sends.
#pragma once

#include <cstdint>
#include <optional>

#include "answer.h"
#include "counters.h"
#include "framing.h"
#include "models.h"
#include "options.h"

namespace benchslave {

// A reply to send, framed by the line.
struct Outgoing {
    Clock::time_point due;
    std::optional<Clock::time_point> copy_due;  // --duplicate-ms: the same again then
    Bytes pdu;
    Label label;
};

class Slave {
  public:
    // `registers`: the 65536 holding registers, filled for the pattern here.
    Slave(const Options& options, std::uint16_t* registers);

    // A frame that arrived at `now`; the reply to send, if any. The counters file
    // is current when this returns, before any reply leaves.
    std::optional<Outgoing> on_frame(const Frame& frame, Clock::time_point now);
    // Counts what the line saw (a bad frame, an echo, a client refused); record
    // also rewrites the counters file.
    void count(const char* key, long amount = 1);
    void record(const char* key, long amount = 1) {
        count(key, amount);
        write_counters();
    }
    void set(const char* key, long value) { counters_.set(key, value); }
    void write_counters() const;
    std::string counters_text() const { return counters_.text(); }

  private:
    std::optional<Outgoing> take_up(const Frame& frame, Clock::time_point now);
    std::optional<Outgoing> take_broadcast(const Frame& frame, Clock::time_point now);
    std::optional<Outgoing> take_request(const Frame& frame, Clock::time_point now);
    bool for_us(int unit) const { return unit == options_.station || unit == 0; }
    bool dropped_at_random();
    std::chrono::milliseconds delay_of(const Answer& answer);
    void count_function(const Bytes& pdu);
    void count_fault(const FaultDecision& fault);
    Outgoing outgoing(Answer answer, Clock::time_point due);
    void log(const RequestRange& range, const char* what) const;

    const Options& options_;
    std::uint16_t* registers_;
    Counters counters_;
    Schedule schedule_;
    Dice delays_;
    Dice drops_;
    unsigned long request_number_ = 0;
};

}  // namespace benchslave
