// SPDX-License-Identifier: MIT
#include "framing.h"

namespace benchslave {

namespace pdu = regwire::pdu;
using pdu::be16;
using pdu::put16;

namespace {

constexpr std::size_t kMbapHeader = 7;  // transaction, protocol, length, unit

}  // namespace

std::optional<Bytes> RtuFramer::take_whole() {
    if (buffer_.size() < 2) return std::nullopt;
    const std::size_t length = pdu::request_length(buffer_.data() + 1, buffer_.size() - 1);
    const std::size_t whole = 1 + length + 2;
    if (length == 0 || buffer_.size() < whole || !pdu::sealed(buffer_.data(), whole)) {
        return std::nullopt;
    }
    Bytes frame(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(whole));
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(whole));
    return frame;
}

Bytes RtuFramer::take_all() {
    Bytes all;
    all.swap(buffer_);
    return all;
}

std::optional<Frame> open_rtu(const Bytes& raw) {
    if (!pdu::sealed(raw.data(), raw.size())) return std::nullopt;
    return Frame{raw[0], Bytes(raw.begin() + 1, raw.end() - 2)};
}

Bytes rtu_reply(const Label& label, const Bytes& body) {
    Bytes frame = pdu::rtu_frame(static_cast<std::uint8_t>(label.unit), body);
    if (label.corrupt) frame.back() ^= 0xA5;
    return frame;
}

MbapStatus take_mbap(Bytes& buffer, Frame& frame, std::uint16_t& transaction) {
    if (buffer.size() < kMbapHeader) return MbapStatus::Partial;
    const std::size_t length = be16(&buffer[4]);  // the unit id and the PDU
    if (be16(&buffer[2]) != 0 || length < 2 || length > 1 + pdu::kMaxPdu) return MbapStatus::Bad;
    const std::size_t whole = 6 + length;
    if (buffer.size() < whole) return MbapStatus::Partial;
    transaction = be16(&buffer[0]);
    frame.unit = buffer[6];
    frame.pdu.assign(buffer.begin() + kMbapHeader,
                     buffer.begin() + static_cast<std::ptrdiff_t>(whole));
    buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(whole));
    return MbapStatus::Whole;
}

Bytes tcp_reply(const Label& label, const Bytes& body) {
    Bytes frame;
    put16(frame, label.corrupt ? label.transaction ^ 0xA5u : label.transaction);
    put16(frame, label.protocol);
    put16(frame, static_cast<unsigned>(body.size() + 1));
    frame.push_back(static_cast<std::uint8_t>(label.unit));
    frame.insert(frame.end(), body.begin(), body.end());
    return frame;
}

}  // namespace benchslave
