// SPDX-License-Identifier: MIT
#include "transport.h"

#include <errno.h>

#include <cstring>

#include "regwire.h"

namespace regwire {

namespace {

constexpr uint32_t kConnectUs = 2000000;

}  // namespace

bool is_lost_errno(int err) {
    switch (err) {
        case EIO:
        case ENXIO:
        case ENODEV:
        case ECONNRESET:
        case ECONNABORTED:
        case ENOTCONN:
        case EPIPE:
        case EBADF:
            return true;
        default:
            return false;
    }
}

std::string os_error_text(int err) {
    char text[256];
    return ::strerror_r(err, text, sizeof text);  // the GNU variant
}

Outcome connect_context(modbus_t* ctx) {
    if (ctx == nullptr) return {REGWIRE_EOPEN, os_error_text(errno)};
    modbus_set_error_recovery(ctx, MODBUS_ERROR_RECOVERY_NONE);
    modbus_set_response_timeout(ctx, kConnectUs / 1000000u, kConnectUs % 1000000u);
    if (modbus_connect(ctx) != 0) {
        const int err = errno;
        modbus_free(ctx);
        // libmodbus gives up a connection still in progress at its timeout.
        if (err == EINPROGRESS || err == ETIMEDOUT) {
            return {REGWIRE_EOPEN,
                    "timed out connecting after " + std::to_string(kConnectUs / 1000u) + " ms"};
        }
        return {REGWIRE_EOPEN, os_error_text(err)};
    }
    return {REGWIRE_OK, {}};
}

Outcome Transport::open(const std::string& device, int baud, char parity, Timing timing,
                        std::unique_ptr<Transport>& out) {
    if (device.rfind("tcp:", 0) == 0) return open_tcp_transport(device, timing, out);
    timing.baud = baud;
    return open_serial_transport(device, baud, parity, timing, out);
}

Transport::~Transport() {
    if (ctx_ == nullptr) return;
    modbus_close(ctx_);
    modbus_free(ctx_);
}

void Transport::close(bool lost) {
    if (ctx_ == nullptr) return;
    if (!lost) before_close();
    modbus_close(ctx_);
    modbus_free(ctx_);
    ctx_ = nullptr;
}

}  // namespace regwire
