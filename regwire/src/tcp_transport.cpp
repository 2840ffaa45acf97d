// Modbus TCP: the unit identifier is the station, and the transaction id ties
// a reply to its request.
#include <errno.h>
#include <poll.h>

#include <chrono>
#include <cstdlib>

#include "regwire.h"
#include "transport.h"

namespace regwire {

namespace {

class TcpTransport final : public Transport {
  public:
    TcpTransport(modbus_t* ctx, Timing timing) : Transport(ctx, timing) {
        set_timeout(ctx_, timing_.byte_timeout_us(), false);
    }

    bool hung_up_or_dirty() override;
    int32_t transfer(const Request& request, TraceRecord& record, bool trace) override;
};

bool TcpTransport::hung_up_or_dirty() {
    pollfd p{fd(), POLLIN, 0};
    if (::poll(&p, 1, 0) < 0) return false;
    if ((p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) return true;
    if ((p.revents & POLLIN) != 0) {
        modbus_flush(ctx_);
        // A peer that closed leaves the socket readable at end of file.
        pollfd again{fd(), POLLIN | POLLRDHUP, 0};
        if (::poll(&again, 1, 0) > 0 && (again.revents & (POLLRDHUP | POLLHUP)) != 0) {
            return true;
        }
    }
    return false;
}

int32_t TcpTransport::transfer(const Request& r, TraceRecord& record, bool /*trace*/) {
    modbus_set_slave(ctx_, r.station);
    const int request_bytes = r.read() ? read_request_bytes() : write_request_bytes(r.count);
    const int reply_bytes = r.read() ? read_reply_bytes(r.count) : write_reply_bytes();
    record.timeout_us = timing_.response_timeout_us(request_bytes, reply_bytes);
    set_timeout(ctx_, record.timeout_us, true);
    const auto began = std::chrono::steady_clock::now();
    const int rc = r.read() ? modbus_read_registers(ctx_, r.start, r.count, r.dest)
                            : modbus_write_registers(ctx_, r.start, r.count, r.src);
    const int err = errno;  // before anything else can change it
    record.elapsed_ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - began).count();
    const int32_t result = rc == r.count ? REGWIRE_OK : result_for_errno(err);
    // A broadcast: only a failure to send counts.
    if (r.broadcast() && result != REGWIRE_ELOST && result != REGWIRE_EIO) return REGWIRE_OK;
    return result;
}

// "tcp:HOST:PORT", HOST possibly in brackets for IPv6.
bool split_tcp(const std::string& device, std::string& host, std::string& service) {
    const std::string rest = device.substr(4);
    const auto colon = rest.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == rest.size()) return false;
    host = rest.substr(0, colon);
    service = rest.substr(colon + 1);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    for (char c : service) {
        if (c < '0' || c > '9') return false;
    }
    const long port = std::strtol(service.c_str(), nullptr, 10);
    return port >= 1 && port <= 65535 && !host.empty();
}

}  // namespace

int32_t open_tcp_transport(const std::string& device, Timing timing,
                           std::unique_ptr<Transport>& out) {
    std::string host;
    std::string service;
    if (!split_tcp(device, host, service)) return REGWIRE_EOPEN;
    modbus_t* ctx = connect_context(modbus_new_tcp_pi(host.c_str(), service.c_str()));
    if (ctx == nullptr) return REGWIRE_EOPEN;
    out = std::make_unique<TcpTransport>(ctx, timing);
    return REGWIRE_OK;
}

}  // namespace regwire
