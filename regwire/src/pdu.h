// SPDX-License-Identifier: MIT
// The Modbus codec: the protocol data unit (function code and data) of the
// requests Regwire sends and the replies they get, for both sides of the line,
// and the one CRC-16 of RTU frames. No I/O here: the transports add only their
// framing (RTU: station byte and CRC; TCP: the MBAP header).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace regwire::pdu {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kReadHolding = 0x03;
constexpr uint8_t kWriteSingle = 0x06;
constexpr uint8_t kWriteMultiple = 0x10;
constexpr uint8_t kExceptionBit = 0x80;
constexpr int kMaxReadCount = 125;   // registers in one function 03 request
constexpr int kMaxWriteCount = 123;  // registers in one function 16 request
constexpr std::size_t kMaxPdu = 253;

// Big-endian 16-bit fields, as every Modbus header and PDU carries them.
uint16_t be16(const uint8_t* p);
void put16(Bytes& out, unsigned v);

// Modbus RTU CRC-16 (polynomial 0xA001 reflected, start 0xFFFF).
uint16_t crc16(const uint8_t* data, std::size_t n);
// Appends the CRC, low byte first, to an RTU frame.
void seal(Bytes& frame);
// A frame of at least 4 bytes whose last two are the CRC of the rest.
bool sealed(const uint8_t* frame, std::size_t n);
// An RTU frame: the station, the PDU and the CRC.
Bytes rtu_frame(uint8_t station, const Bytes& pdu);

// One request as the master asks it: function 03 (read `count` registers),
// 16 (write `count` values) or 06 (write values[0]; count 1).
struct Request {
    uint8_t function = kReadHolding;
    uint16_t start = 0;
    uint16_t count = 0;
    const uint16_t* values = nullptr;  // writes only
};

Bytes encode(const Request& request);

// What every reply to a request looks like, values aside: two requests whose
// replies have the same shape cannot be told apart by their replies. Any
// exception reply has the shape of every request of its station and function.
struct Shape {
    int station = 0;
    uint8_t function = 0;
    int byte_count = 0;  // function 03
    uint16_t start = 0;  // functions 06 and 16: the echoed address
    uint16_t count = 0;  // and quantity (16) or value (06)
    bool operator==(const Shape&) const = default;
};

Shape shape_of(int station, const Request& request);
// Whether a reply PDU (already known to be whole) could answer a request of
// shape `s`: same function and shape, or an exception of that function.
bool fits(const Shape& s, const uint8_t* pdu, std::size_t n);

// A reply judged against its request.
enum class Verdict { Values, Echo, Exception, Malformed };
struct Reply {
    Verdict verdict = Verdict::Malformed;
    int exception = 0;              // the code, for Verdict::Exception
    const char* problem = nullptr;  // why, for Verdict::Malformed
};

// Decodes a whole reply PDU to `request`. Values go to dest[0 .. count-1] only
// when the reply is well-formed values.
Reply decode(const Request& request, const uint8_t* pdu, std::size_t n, uint16_t* dest);

// The length of the reply PDU starting at `pdu` (function first) once enough of
// it is there to tell; 0 when not yet known or the function is none we ask.
std::size_t reply_length(const uint8_t* pdu, std::size_t available);

// The slave's side: the length of a request PDU of a function we serve, once
// known (0 otherwise), its parse, and the replies.
std::size_t request_length(const uint8_t* pdu, std::size_t available);

struct Parsed {
    uint8_t function = 0;
    uint16_t start = 0;
    uint16_t count = 0;            // registers; 1 for function 06
    std::vector<uint16_t> values;  // function 06 and 16
    uint8_t exception = 0;         // non-zero: answer with this exception
};

// Parses a whole request PDU. A function other than 03, 06, 16 gives
// exception 01; a count or byte count out of the protocol's range, 03.
Parsed parse_request(const uint8_t* pdu, std::size_t n);
Bytes read_reply(const uint16_t* values, int count);
Bytes write_echo(uint8_t function, uint16_t start, uint16_t count_or_value);
Bytes exception_reply(uint8_t function, uint8_t code);

}  // namespace regwire::pdu
