// SPDX-License-Identifier: MIT
#include "transport.h"

#include <errno.h>

#include <cstring>

#include "failure.h"
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

modbus_t* connect_context(modbus_t* ctx) {
    if (ctx == nullptr) {
        set_reason(os_error_text(errno));
        return nullptr;
    }
    modbus_set_error_recovery(ctx, MODBUS_ERROR_RECOVERY_NONE);
    modbus_set_response_timeout(ctx, kConnectUs / 1000000u, kConnectUs % 1000000u);
    if (modbus_connect(ctx) != 0) {
        set_reason(os_error_text(errno));
        modbus_free(ctx);
        return nullptr;
    }
    return ctx;
}

int32_t Transport::open(const std::string& device, int baud, char parity, Timing timing,
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
