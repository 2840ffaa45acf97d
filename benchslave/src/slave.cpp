// SPDX-License-Identifier: MIT
#include "slave.h"

#include <cstdio>
#include <ctime>
#include <utility>

#include "registers.h"

namespace benchslave {

namespace {

struct Named {
    int key;
    const char* name;
};

// The counter of each function offered, and of each fault.
constexpr Named kFunctionCounters[] = {{0x03, "fc03"}, {0x06, "fc06"}, {0x10, "fc16"}};
constexpr Named kFaultCounters[] = {
    {static_cast<int>(ReplyKind::None), "faults_no_reply"},
    {static_cast<int>(ReplyKind::BadCrc), "faults_bad_crc"},
    {static_cast<int>(ReplyKind::Exception), "faults_exception"},
    {static_cast<int>(ReplyKind::WrongUnit), "faults_wrong_unit"},
    {static_cast<int>(ReplyKind::WrongProtocol), "faults_wrong_protocol"},
    {static_cast<int>(ReplyKind::WrongEcho), "faults_wrong_echo"},
};

const char* name_of(const Named* table, std::size_t n, int key, const char* otherwise) {
    for (std::size_t i = 0; i < n; ++i) {
        if (table[i].key == key) return table[i].name;
    }
    return otherwise;
}

}  // namespace

Slave::Slave(const Options& options, std::uint16_t* registers)
    : options_(options),
      registers_(registers),
      schedule_(options.busy, options.mode != LineMode::Tcp),
      delays_(options.seed),
      drops_(options.seed) {
    fill_pattern(options.pattern, registers_);
}

std::optional<Outgoing> Slave::on_frame(const Frame& frame, Clock::time_point now) {
    std::optional<Outgoing> reply = take_up(frame, now);
    // Counted before answering: once a master has its reply, the file is current.
    write_counters();
    return reply;
}

void Slave::count(const char* key, long amount) {
    counters_.add(key, amount);
}

void Slave::write_counters() const {
    if (!options_.counters_file.empty()) counters_.write_file(options_.counters_file);
}

std::optional<Outgoing> Slave::take_up(const Frame& frame, Clock::time_point now) {
    if (!for_us(frame.unit)) {
        count("ignored");
        return std::nullopt;
    }
    if (schedule_.drops(now)) {
        count("dropped_busy");
        return std::nullopt;
    }
    if (dropped_at_random()) {
        count("dropped_random");
        return std::nullopt;
    }
    if (options_.pattern == Pattern::Demo) {
        update_demo(registers_, static_cast<long long>(std::time(nullptr)));
    }
    count_function(frame.pdu);
    if (schedule_.waits(now)) count("queued");
    return frame.unit == 0 ? take_broadcast(frame, now) : take_request(frame, now);
}

// Applied; answered over TCP only, as a serial line's broadcasts get no answer.
std::optional<Outgoing> Slave::take_broadcast(const Frame& frame, Clock::time_point now) {
    count("broadcasts");
    Answer answer = answer_broadcast(frame.pdu, registers_);
    const Clock::time_point due = schedule_.take(now, delay_of(answer));
    log(answer.range, answer.what);
    if (options_.mode != LineMode::Tcp) return std::nullopt;
    Outgoing out = outgoing(std::move(answer), due);
    out.label.unit = 0;
    return out;
}

std::optional<Outgoing> Slave::take_request(const Frame& frame, Clock::time_point now) {
    count("requests");
    Answer answer = answer_request(options_, ++request_number_, frame.pdu, registers_);
    count_fault(answer.fault);
    const Clock::time_point due = schedule_.take(now, delay_of(answer));
    log(answer.range, answer.what);
    if (answer.pdu.empty()) return std::nullopt;
    count("replies");
    return outgoing(std::move(answer), due);
}

bool Slave::dropped_at_random() {
    return options_.drop_chance > 0 && drops_.one_in(options_.drop_chance);
}

// How long the request keeps the slave busy: the fault's delay, --late-ms and a
// random one from --delay-range.
std::chrono::milliseconds Slave::delay_of(const Answer& answer) {
    int ms = answer.fault.delay_ms + options_.late_ms;
    if (options_.delay_max_ms > 0) {
        ms += delays_.between(options_.delay_min_ms, options_.delay_max_ms);
        count("random_delays");
    }
    return std::chrono::milliseconds(ms);
}

void Slave::count_function(const Bytes& pdu) {
    const int function = pdu.empty() ? -1 : pdu[0];
    count(name_of(kFunctionCounters, std::size(kFunctionCounters), function, "fc_other"));
}

void Slave::count_fault(const FaultDecision& fault) {
    if (fault.delay_ms > 0) count("faults_delay");
    const char* key =
        name_of(kFaultCounters, std::size(kFaultCounters), static_cast<int>(fault.kind), nullptr);
    if (key != nullptr) count(key);
}

Outgoing Slave::outgoing(Answer answer, Clock::time_point due) {
    Outgoing out;
    out.due = due;
    out.label.unit = options_.station;
    if (answer.fault.kind == ReplyKind::WrongUnit) out.label.unit = options_.station % 247 + 1;
    out.label.protocol = answer.fault.kind == ReplyKind::WrongProtocol ? 1 : 0;
    out.label.corrupt = answer.fault.kind == ReplyKind::BadCrc;
    if (options_.duplicate_ms >= 0) {
        const int ms = options_.duplicate_max_ms > options_.duplicate_ms
                           ? delays_.between(options_.duplicate_ms, options_.duplicate_max_ms)
                           : options_.duplicate_ms;
        out.copy_due = due + std::chrono::milliseconds(ms);
        count("duplicates");
    }
    out.pdu = std::move(answer.pdu);
    return out;
}

void Slave::log(const RequestRange& r, const char* what) const {
    if (!options_.verbose) return;
    std::fprintf(stderr, "benchslave: fc %02X start %d count %d: %s\n", r.function, r.start,
                 r.count, what);
}

}  // namespace benchslave
