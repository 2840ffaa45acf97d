// SPDX-License-Identifier: MIT
// Which fault, if any, the simulator injects into the reply to one request.
#pragma once

#include "benchslave/fault_addresses.h"
#include "options.h"

namespace benchslave {

enum class ReplyKind { Normal, None, BadCrc, Exception, WrongUnit, WrongProtocol, WrongEcho };

struct FaultDecision {
    ReplyKind kind = ReplyKind::Normal;
    int exception_code = 0;
    int delay_ms = 0;  // > 0: wait this long before replying (or before staying silent)
};

// The register range a request touches; count 0 for functions without registers.
struct RequestRange {
    int function = 0;
    int start = 0;
    int count = 0;
};

// request_number counts the requests addressed to this station, from 1.
// A silent reply wins over a bad CRC, which wins over an exception, which wins
// over a wrong unit, protocol id or echo (in that order); a delay combines with
// any of them.
FaultDecision decide_fault(const Options& options, unsigned long request_number,
                           const RequestRange& range);

}  // namespace benchslave
