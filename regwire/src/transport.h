// SPDX-License-Identifier: MIT
// How requests travel on one kind of line. A transport owns its libmodbus
// context (which opens and sets up the line) and frames requests and replies
// for its line; the codec (pdu.h) encodes and judges what is inside a frame.
#pragma once

#include <modbus.h>

#include <cstdint>
#include <memory>
#include <string>

#include "line.h"
#include "pdu.h"
#include "trace.h"

namespace regwire {

// One function 03, 06 or 16 request. Exactly one of dest (read) and src (write)
// is given. Station 0 (write only) is a broadcast: nobody answers it.
struct Request {
    int station = 0;
    int start = 0;
    int count = 0;
    uint16_t* dest = nullptr;
    const uint16_t* src = nullptr;
    bool single = false;  // a one-register write as function 06

    bool read() const { return dest != nullptr; }
    bool broadcast() const { return station == 0; }
    uint8_t function() const {
        if (read()) return pdu::kReadHolding;
        return single ? pdu::kWriteSingle : pdu::kWriteMultiple;
    }
    pdu::Request pdu() const {
        return {function(), static_cast<uint16_t>(start), static_cast<uint16_t>(count), src};
    }
};

// A result code with its reason in words, for Regwire_lastfailure(): what the
// code cannot say (the operating system's reason, what the reply was).
struct Outcome {
    int32_t result = 0;
    std::string reason;
};

class Transport {
  public:
    // Opens `device`: "tcp:HOST:PORT" for Modbus TCP, anything else a serial line.
    // On failure returns a result code and its reason, and leaves `out` empty.
    static Outcome open(const std::string& device, int baud, char parity, Timing timing,
                        std::unique_ptr<Transport>& out);

    virtual ~Transport();
    Transport(const Transport&) = delete;
    Transport& operator=(const Transport&) = delete;

    // Before a request: reads what came unasked (a late reply, noise) so that it
    // cannot pass for the coming reply. REGWIRE_ELOST when the device is gone.
    virtual Outcome before_request() = 0;

    // One request and its reply, within the bound the transport documents. Fills
    // record.timeout_us, allowance_us, elapsed_ms (the whole request) and stale.
    // Returns a REGWIRE_* code with its reason; REGWIRE_ELOST means the device is
    // gone.
    virtual Outcome transfer(const Request& request, TraceRecord& record) = 0;

    // Closes the device. `lost`: it already vanished, leave it alone.
    void close(bool lost);
    bool closed() const { return ctx_ == nullptr; }

  protected:
    Transport(modbus_t* ctx, Timing timing) : ctx_(ctx), timing_(timing) {}
    // Called by close() while the device is still open and not lost.
    virtual void before_close() {}
    int fd() const { return modbus_get_socket(ctx_); }

    modbus_t* ctx_;
    Timing timing_;
};

// Shared by the transports.
bool is_lost_errno(int err);
// The operating system's text for an errno value.
std::string os_error_text(int err);

// Connects a new libmodbus context with error recovery off (it would sleep,
// reconnect and resend behind our back) and the connect timeout set. On failure
// frees it and returns REGWIRE_EOPEN with the reason.
Outcome connect_context(modbus_t* ctx);

Outcome open_serial_transport(const std::string& device, int baud, char parity, Timing timing,
                              std::unique_ptr<Transport>& out);
Outcome open_tcp_transport(const std::string& device, Timing timing,
                           std::unique_ptr<Transport>& out);

}  // namespace regwire
