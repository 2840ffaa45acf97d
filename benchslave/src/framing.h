// SPDX-License-Identifier: MIT
// The two framings of Modbus around the codec's PDUs: RTU (station byte and CRC,
// frames told apart by their length or by the line going quiet) and TCP (the MBAP
// header). No I/O here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "pdu.h"

namespace benchslave {

using regwire::pdu::Bytes;

// A request with its framing taken off.
struct Frame {
    int unit = 0;  // the RTU station or the TCP unit id; 0 is a broadcast
    Bytes pdu;
};

// How a reply names itself, faults included.
struct Label {
    int unit = 0;
    std::uint16_t transaction = 0;  // TCP
    std::uint16_t protocol = 0;     // TCP: anything but 0 is a fault
    bool corrupt = false;           // RTU: a wrong CRC; TCP: a wrong transaction id
};

// Gathers the bytes of an RTU line into frames.
class RtuFramer {
  public:
    void feed(const std::uint8_t* data, std::size_t n) {
        buffer_.insert(buffer_.end(), data, data + n);
    }
    bool empty() const { return buffer_.empty(); }
    // The first frame, if it is a whole request of a function the codec knows with
    // a good CRC: the slave need not wait for the line to go quiet.
    std::optional<Bytes> take_whole();
    // The line went quiet: what was gathered is one frame, good or not.
    Bytes take_all();

  private:
    Bytes buffer_;
};

// A gathered RTU frame whose CRC is good, split; nothing if it is not.
std::optional<Frame> open_rtu(const Bytes& raw);
Bytes rtu_reply(const Label& label, const Bytes& pdu);

enum class MbapStatus { Partial, Whole, Bad };
// Takes the first whole MBAP frame from `buffer` into `frame` (its transaction id
// into `transaction`). Bad: a protocol id other than 0 or an impossible length.
MbapStatus take_mbap(Bytes& buffer, Frame& frame, std::uint16_t& transaction);
Bytes tcp_reply(const Label& label, const Bytes& pdu);

}  // namespace benchslave
