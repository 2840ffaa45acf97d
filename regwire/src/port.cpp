// SPDX-License-Identifier: MIT
#include "port.h"

#include <algorithm>
#include <cstdlib>
#include <string>

#include "failure.h"
#include "port_map.h"
#include "regwire.h"
#include "trace.h"

namespace regwire {

namespace {

// Milliseconds 0..60000 from `name`, else `fallback` (microseconds).
uint32_t env_ms(const char* name, uint32_t fallback) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') return fallback;
    char* end = nullptr;
    const long ms = std::strtol(text, &end, 10);
    if (*end != '\0' || ms < 0 || ms > 60000) return fallback;
    return static_cast<uint32_t>(ms) * 1000u;
}

bool env_trace() {
    const char* text = std::getenv("REGWIRE_TRACE");
    return text != nullptr && *text != '\0' && std::string(text) != "0";
}

// Where a failed port's device came from, and what was wrong in the map files.
std::string mapping_note(const PortMapping& mapping) {
    std::string note = "; device from " + std::string(source_name(mapping.source));
    if (!mapping.origin.empty()) note += " " + mapping.origin;
    for (const std::string& problem : mapping.problems) note += "; " + problem;
    return note;
}

}  // namespace

int32_t Port::open(int32_t number, int baud, char parity, std::unique_ptr<Port>& out) {
    const PortMapping mapping = resolve_port(number);
    if (env_trace()) trace_mapping(number, mapping);
    const std::string& device = mapping.device;
    Timing timing;
    timing.turnaround_us = env_ms("REGWIRE_TURNAROUND_MS", 100000);
    timing.max_turnaround_us =
        std::max(timing.turnaround_us, env_ms("REGWIRE_TURNAROUND_MAX_MS", 2000000));
    std::unique_ptr<Transport> transport;
    const Outcome o = Transport::open(device, baud, parity, timing, transport);
    if (o.result != REGWIRE_OK) {
        const std::string reason = o.reason.empty() ? Regwire_strerror(o.result) : o.reason;
        const std::string detail = "port " + std::to_string(number) + " (" + device +
                                   "): open: " + reason + mapping_note(mapping);
        if (env_trace()) trace_open_failure(detail, o.result);
        note_failure(number, detail);
        return o.result;
    }
    out.reset(new Port(number, device, std::move(transport), env_trace()));
    return REGWIRE_OK;
}

std::string Port::describe(int32_t number) {
    return "port " + std::to_string(number) + " (" + resolve_port(number).device + ")";
}

std::string Port::describe() const {
    return "port " + std::to_string(number_) + " (" + device_ + ")";
}

Port::Port(int32_t number, std::string device, std::unique_ptr<Transport> transport, bool trace)
    : number_(number),
      device_(std::move(device)),
      transport_(std::move(transport)),
      trace_(trace) {}

Port::~Port() {
    if (transport_) transport_->close(lost_);
}

void Port::drop() {
    lost_ = true;
    transport_->close(true);
}

Outcome Port::exchange(const Request& r) {
    if (lost_ || transport_->closed()) {
        return {REGWIRE_ELOST, "the device was lost earlier; open the port again"};
    }
    if (Outcome o = transport_->before_request(); o.result != REGWIRE_OK) {
        if (o.result == REGWIRE_ELOST) drop();
        return o;
    }

    TraceRecord record;
    record.port = number_;
    record.station = r.station;
    record.function = r.function();
    record.start = r.start;
    record.count = r.count;

    Outcome o = transport_->transfer(r, record);
    if (o.result == REGWIRE_ELOST) drop();
    if (o.result != REGWIRE_OK && o.reason.empty()) o.reason = Regwire_strerror(o.result);
    if (trace_) {
        record.result = o.result;
        record.registers = !r.read() ? r.src : (o.result == REGWIRE_OK ? r.dest : nullptr);
        trace_request(record);
    }
    return o;
}

Outcome Port::read_registers(int station, int start, int count, uint16_t* dest) {
    Request r;
    r.station = station;
    r.start = start;
    r.count = count;
    r.dest = dest;
    return exchange(r);
}

Outcome Port::write_registers(int station, int start, int count, const uint16_t* src) {
    Request r;
    r.station = station;
    r.start = start;
    r.count = count;
    r.src = src;
    r.single = count == 1 && single_writes_.count(station) != 0;
    Outcome o = exchange(r);
    // A refused request changed nothing, so it is safe to ask once more the
    // way such a station understands.
    if (count == 1 && !r.single && station != 0 && o.result == REGWIRE_EXCEPTION_BASE - 1) {
        single_writes_.insert(station);
        r.single = true;
        o = exchange(r);
    }
    return o;
}

}  // namespace regwire
