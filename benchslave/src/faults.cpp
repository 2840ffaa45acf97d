// SPDX-License-Identifier: MIT
#include "faults.h"

namespace benchslave {

namespace {

bool touches(const RequestRange& r, int address) {
    return r.count > 0 && r.start <= address && address < r.start + r.count;
}

}  // namespace

FaultDecision decide_fault(const Options& options, unsigned long request_number,
                           const RequestRange& range) {
    FaultDecision d;
    if (options.no_reply.hits(request_number) || touches(range, kMagicNoReply)) {
        d.kind = ReplyKind::None;
    } else if (options.bad_crc.hits(request_number) || touches(range, kMagicBadCrc)) {
        d.kind = ReplyKind::BadCrc;
    } else if (options.exception.hits(request_number)) {
        d.kind = ReplyKind::Exception;
        d.exception_code = options.exception_code;
    } else if (touches(range, kMagicException)) {
        d.kind = ReplyKind::Exception;
        d.exception_code = kMagicExceptionCode;
    } else if (options.wrong_unit.hits(request_number)) {
        d.kind = ReplyKind::WrongUnit;
    } else if (options.wrong_protocol.hits(request_number)) {
        d.kind = ReplyKind::WrongProtocol;
    } else if (options.wrong_echo.hits(request_number)) {
        d.kind = ReplyKind::WrongEcho;
    }
    if (options.delay.hits(request_number) || touches(range, kMagicDelay)) {
        d.delay_ms = options.delay_ms;
    }
    return d;
}

}  // namespace benchslave
