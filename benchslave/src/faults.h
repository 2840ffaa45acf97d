// Which fault, if any, the simulator injects into the reply to one request.
#pragma once

#include "options.h"

namespace benchslave {

// Registers that trigger a fault when a request's range touches them.
inline constexpr int kMagicNoReply = 60001;
inline constexpr int kMagicBadCrc = 60002;
inline constexpr int kMagicException = 60003;
inline constexpr int kMagicDelay = 60004;
inline constexpr int kMagicExceptionCode = 4;  // slave device failure

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
