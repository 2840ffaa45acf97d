// SPDX-License-Identifier: MIT
#include "answer.h"

#include <algorithm>
#include <utility>

#include "registers.h"

namespace benchslave {

namespace pdu = regwire::pdu;

namespace {

constexpr std::uint8_t kIllegalAddress = 0x02;

RequestRange range_of(const pdu::Parsed& p) {
    return {p.function, p.start, p.exception != 0 ? 0 : p.count};
}

std::uint8_t exception_of(const pdu::Parsed& p) {
    if (p.exception != 0) return p.exception;
    if (p.start + p.count > kRegisterCount) return kIllegalAddress;
    return 0;
}

// The request carried out: values read, a write applied, or its exception.
Bytes carry_out(const pdu::Parsed& p, std::uint16_t* registers) {
    if (const std::uint8_t code = exception_of(p); code != 0) {
        return pdu::exception_reply(p.function, code);
    }
    if (p.function == pdu::kReadHolding) return pdu::read_reply(registers + p.start, p.count);
    std::copy(p.values.begin(), p.values.end(), registers + p.start);
    const std::uint16_t second = p.function == pdu::kWriteSingle ? p.values[0] : p.count;
    return pdu::write_echo(p.function, p.start, second);
}

// A function 16 echo that names the next address (the write was carried out).
Bytes misecho(const pdu::Parsed& p, Bytes reply) {
    if (reply[0] != pdu::kWriteMultiple) return reply;
    return pdu::write_echo(p.function, static_cast<std::uint16_t>(p.start + 1), p.count);
}

const char* what_of(ReplyKind kind) {
    switch (kind) {
        case ReplyKind::None:
            return "no reply (fault)";
        case ReplyKind::BadCrc:
            return "corrupted reply (fault)";
        case ReplyKind::Exception:
            return "exception (fault)";
        case ReplyKind::WrongUnit:
        case ReplyKind::WrongProtocol:
        case ReplyKind::WrongEcho:
            return "mislabelled reply (fault)";
        case ReplyKind::Normal:
            break;
    }
    return "reply";
}

}  // namespace

Answer answer_request(const Options& options, unsigned long request_number, const Bytes& request,
                      std::uint16_t* registers) {
    const pdu::Parsed p = pdu::parse_request(request.data(), request.size());
    Answer a;
    a.range = range_of(p);
    a.fault = decide_fault(options, request_number, a.range);
    a.what = what_of(a.fault.kind);
    if (a.fault.kind == ReplyKind::None) return a;
    if (a.fault.kind == ReplyKind::Exception) {
        a.pdu = pdu::exception_reply(p.function, static_cast<std::uint8_t>(a.fault.exception_code));
        return a;
    }
    a.pdu = carry_out(p, registers);
    if (a.fault.kind == ReplyKind::WrongEcho) a.pdu = misecho(p, std::move(a.pdu));
    if (a.fault.kind == ReplyKind::Normal && (a.pdu[0] & pdu::kExceptionBit) != 0) {
        a.what = "exception";
    }
    return a;
}

Answer answer_broadcast(const Bytes& request, std::uint16_t* registers) {
    const pdu::Parsed p = pdu::parse_request(request.data(), request.size());
    Answer a;
    a.range = range_of(p);
    a.pdu = carry_out(p, registers);
    a.what = "broadcast";
    return a;
}

}  // namespace benchslave
