// SPDX-License-Identifier: MIT
// How requests travel on one kind of line. A transport owns its libmodbus
// context and keeps the rules of its line (what a stale reply looks like, how
// the line is cleaned, how a reply is tied to its request) in one place.
#pragma once

#include <modbus.h>

#include <cstdint>
#include <memory>
#include <string>

#include "line.h"
#include "trace.h"

namespace regwire {

// One function 03 or 16 request. Exactly one of dest (read) and src (write) is
// given. Station 0 (write only) is a broadcast: nobody answers it.
struct Request {
    int station = 0;
    int start = 0;
    int count = 0;
    uint16_t* dest = nullptr;
    const uint16_t* src = nullptr;

    bool read() const { return dest != nullptr; }
    bool broadcast() const { return station == 0; }
};

class Transport {
  public:
    // Opens `device`: "tcp:HOST:PORT" for Modbus TCP, anything else a serial line.
    // On failure returns a result code and leaves `out` empty.
    static int32_t open(const std::string& device, int baud, char parity, Timing timing,
                        std::unique_ptr<Transport>& out);

    virtual ~Transport();
    Transport(const Transport&) = delete;
    Transport& operator=(const Transport&) = delete;

    // Before a request: true when the device is gone. Bytes nobody asked for (a
    // late reply, noise) are dropped so that they cannot pass for the coming reply.
    virtual bool hung_up_or_dirty() = 0;

    // One request and its reply, within the bound the transport documents. Fills
    // record.timeout_us, allowance_us, elapsed_ms (the whole request) and stale.
    // Returns a REGWIRE_* code; REGWIRE_ELOST means the device is gone.
    virtual int32_t transfer(const Request& request, TraceRecord& record) = 0;

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

// A libmodbus context with error recovery off (it would sleep, reconnect and
// resend behind our back) and the connect timeout set, connected; or nullptr,
// with the reason set (failure.h).
modbus_t* connect_context(modbus_t* ctx);

int32_t open_serial_transport(const std::string& device, int baud, char parity, Timing timing,
                              std::unique_ptr<Transport>& out);
int32_t open_tcp_transport(const std::string& device, Timing timing,
                           std::unique_ptr<Transport>& out);

}  // namespace regwire
