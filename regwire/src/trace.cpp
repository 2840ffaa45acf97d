// SPDX-License-Identifier: MIT
#include "trace.h"

#include <sys/time.h>

#include <charconv>
#include <cstdio>
#include <ctime>
#include <string>

#include "regwire.h"

namespace regwire {
namespace {

// Milliseconds with one decimal and a decimal point, whatever the locale of the
// program that loaded the library (printf's %f would follow it).
std::string millis(double ms) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, ms, std::chars_format::fixed, 1);
    return std::string(text, end.ptr) + " ms";
}

}  // namespace

namespace {

void hex(std::string& out, unsigned byte) {
    static const char digits[] = "0123456789abcdef";
    out += ' ';
    out += digits[(byte >> 4) & 0xF];
    out += digits[byte & 0xF];
}

void hex16(std::string& out, unsigned value) {
    hex(out, (value >> 8) & 0xFF);
    hex(out, value & 0xFF);
}

// Local time of day with microseconds, as every trace line begins.
std::string stamp() {
    timeval now{};
    ::gettimeofday(&now, nullptr);
    tm local{};
    ::localtime_r(&now.tv_sec, &local);
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%06ld", local.tm_hour, local.tm_min,
                  local.tm_sec, static_cast<long>(now.tv_usec));
    return text;
}

}  // namespace

void trace_request(const TraceRecord& r) {
    std::string request;
    hex(request, static_cast<unsigned>(r.function));
    hex16(request, static_cast<unsigned>(r.start));
    hex16(request, static_cast<unsigned>(r.count));
    const bool write = r.function == 0x10;
    if (write) {
        hex(request, static_cast<unsigned>(2 * r.count));
        for (int i = 0; i < r.count && r.registers != nullptr; ++i) hex16(request, r.registers[i]);
    }

    std::string reply;
    if (r.result == REGWIRE_OK && r.station == 0 && write) {
        reply = " (broadcast, none expected)";
    } else if (r.result == REGWIRE_OK) {
        hex(reply, static_cast<unsigned>(r.function));
        if (write) {
            hex16(reply, static_cast<unsigned>(r.start));
            hex16(reply, static_cast<unsigned>(r.count));
        } else {
            hex(reply, static_cast<unsigned>(2 * r.count));
            for (int i = 0; i < r.count && r.registers != nullptr; ++i) {
                hex16(reply, r.registers[i]);
            }
        }
    } else if (REGWIRE_IS_EXCEPTION(r.result)) {
        hex(reply, static_cast<unsigned>(r.function | 0x80));
        hex(reply, static_cast<unsigned>(REGWIRE_EXCEPTION_CODE(r.result)));
    } else {
        reply = " -";
    }

    std::string extra;
    if (r.allowance_us > 0) {
        extra += ", allowance " + millis(static_cast<double>(r.allowance_us) / 1000.0);
    }
    if (r.stale > 0) extra += ", " + std::to_string(r.stale) + " late replies skipped";
    if (r.widened_count > 0) {
        extra += ", read as registers " + std::to_string(r.widened_start) + ".." +
                 std::to_string(r.widened_start + r.widened_count - 1);
    }
    std::fprintf(stderr,
                 "regwire %s port %d station %d: request%s | reply%s | %s (%d) in %s, "
                 "timeout %s%s\n",
                 stamp().c_str(), r.port, r.station, request.c_str(), reply.c_str(),
                 Regwire_strerror(r.result), r.result, millis(r.elapsed_ms).c_str(),
                 millis(static_cast<double>(r.timeout_us) / 1000.0).c_str(), extra.c_str());
}

void trace_open_failure(const std::string& detail, int32_t result) {
    std::fprintf(stderr, "regwire %s %s | %s (%d)\n", stamp().c_str(), detail.c_str(),
                 Regwire_strerror(result), result);
}

}  // namespace regwire
