// SPDX-License-Identifier: MIT
// What the window says when a driver call fails: a sentence in the window's
// language naming the command, the port and the reason, followed by the library's
// own words. Explicit commands (Open, Close, Write) show it as a notice; the read
// tick, which repeats twice a second, puts it on the value cells it wrote.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace bench {

enum class Command { Open, Close, Write, Read };

// A driver call that returned a failing result, as the handler knows it.
struct FailedCall {
    Command command;
    const char* function;  // the driver function, e.g. "OpenPort_Modbus"
    int32_t port;
    int32_t station = 0;  // transfers only
    int32_t result = 0;
    std::string detail;  // the library's own account of the failure; may be empty
};

// A 16-bit write the library refuses because a value does not fit a register.
struct RefusedValue {
    int32_t row;  // grid row, from 1
    int32_t value;
};

struct NoticeText {
    std::string title;
    std::string sentence;  // in the window's language: command, port, reason
    std::string detail;    // technical: the library's text and the raw result
};

// A result the driver reports as a failure.
inline bool isFailure(int32_t result) {
    return result != 0;
}

// Close of a port that was not open, or of no port at all, is not worth a notice.
bool closeFailureIsWorthANotice(int32_t result);

// The reason for a result in plain words (window's language), e.g. that the slave
// at `station` did not answer in time, or the Modbus exception by name.
std::string resultReason(int32_t result, int32_t station);

// The rows among the first `count` values that do not fit -32768..65535.
std::vector<RefusedValue> refusedValues16(const int32_t* values, int32_t count);

// The notice for a failed Open, Close or Write. `refused` lists the values of a
// 16-bit write that do not fit; they are the reason when the driver refused the
// write for a value out of range.
NoticeText failureNotice(const FailedCall& call, const std::vector<RefusedValue>& refused = {});

// A successful read: when, and which registers it read.
struct GoodRead {
    std::string when;  // date and time as the clock labels show them
    int32_t firstRegister = 0;
    int32_t lastRegister = 0;
};

// The registers that `count` values from `start` take, `addressStep` (1 or 2) each.
GoodRead goodRead(std::string when, int32_t start, int32_t count, int addressStep);

// The tooltip of a value cell after a failed read: the reason, and the time and the
// registers of the last successful read (none before the first).
std::string staleReadTip(const FailedCall& call, const std::optional<GoodRead>& lastGood);

}  // namespace bench
