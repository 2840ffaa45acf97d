// SPDX-License-Identifier: MIT
// What the slave answers to one request PDU: carried out on the registers with
// the codec, and the fault the schedule asks for. No I/O here.
#pragma once

#include <cstdint>

#include "faults.h"
#include "framing.h"
#include "options.h"

namespace benchslave {

struct Answer {
    FaultDecision fault;
    Bytes pdu;  // the reply PDU; empty: no reply
    RequestRange range;
    const char* what = "reply";
};

// A request to this station, the request_number-th (from 1). Functions other than
// 03, 06 and 16 get exception 01, a bad count 03, registers past the map 02.
Answer answer_request(const Options& options, unsigned long request_number, const Bytes& pdu,
                      std::uint16_t* registers);
// A broadcast: carried out, without faults.
Answer answer_broadcast(const Bytes& pdu, std::uint16_t* registers);

}  // namespace benchslave
