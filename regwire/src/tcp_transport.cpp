// SPDX-License-Identifier: MIT
// Modbus TCP: the unit identifier is the station, and the transaction id ties
// a reply to its request. A reply counts only when its transaction id, protocol
// id (0), unit id and function are those of the request, and for a write when
// it echoes the address and quantity. A reply to an earlier request that timed
// out is skipped and the wait goes on; anything else fails the request.
#include <errno.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <vector>

#include "failure.h"
#include "regwire.h"
#include "transport.h"

namespace regwire {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kHeader = 7;       // transaction, protocol, length, unit
constexpr std::size_t kMaxLength = 254;  // the length field: unit id and PDU
constexpr std::size_t kRemembered = 64;  // transaction ids of unanswered requests

class TcpTransport final : public Transport {
  public:
    TcpTransport(modbus_t* ctx, Timing timing) : Transport(ctx, timing) {}

    bool hung_up_or_dirty() override;
    int32_t transfer(const Request& request, TraceRecord& record) override;

  private:
    enum class Got { Frame, Nothing, Lost, Unsynced };
    // Reads what is waiting, or waits until `until` for more. Lost on a closed
    // or failed connection.
    bool fill(Clock::time_point until, bool& lost);
    Got next_frame(Clock::time_point until, std::vector<uint8_t>& frame);
    int32_t judge(const Request& r, const std::vector<uint8_t>& f) const;
    bool send_all(const uint8_t* data, std::size_t n);
    // A request whose reply may still come.
    void remember(uint16_t id) {
        unanswered_.push_back(id);
        if (unanswered_.size() > kRemembered) unanswered_.pop_front();
    }

    uint16_t transaction_ = 0;
    std::deque<uint16_t> unanswered_;
    std::vector<uint8_t> input_;  // the byte stream not yet taken as frames
};

uint16_t be16(const uint8_t* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

bool TcpTransport::fill(Clock::time_point until, bool& lost) {
    lost = false;
    const auto now = Clock::now();
    const int ms =
        until <= now
            ? 0
            : static_cast<int>(
                  std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count() + 1);
    pollfd p{fd(), POLLIN, 0};
    const int rc = ::poll(&p, 1, ms);
    if (rc < 0) {
        lost = errno != EINTR;
        return false;
    }
    if (rc == 0) return false;
    if ((p.revents & POLLIN) == 0) {
        lost = true;
        return false;
    }
    uint8_t chunk[512];
    const ssize_t n = ::recv(fd(), chunk, sizeof chunk, MSG_DONTWAIT);
    if (n <= 0) {
        // 0: the peer closed.
        lost = n == 0 || (errno != EAGAIN && errno != EINTR);
        return false;
    }
    input_.insert(input_.end(), chunk, chunk + n);
    return true;
}

TcpTransport::Got TcpTransport::next_frame(Clock::time_point until, std::vector<uint8_t>& frame) {
    for (;;) {
        if (input_.size() >= kHeader) {
            const std::size_t length = be16(&input_[4]);
            if (length < 2 || length > kMaxLength) return Got::Unsynced;
            const std::size_t total = 6 + length;
            if (input_.size() >= total) {
                frame.assign(input_.begin(), input_.begin() + static_cast<long>(total));
                input_.erase(input_.begin(), input_.begin() + static_cast<long>(total));
                return Got::Frame;
            }
        }
        bool lost = false;
        if (!fill(until, lost)) {
            if (lost) return Got::Lost;
            if (Clock::now() >= until) return Got::Nothing;
        }
    }
}

// Before a request: a peer that closed or failed is gone. Whole replies already
// waiting are kept (their transaction ids sort them out); a stream that lost its
// framing is dropped.
bool TcpTransport::hung_up_or_dirty() {
    bool lost = false;
    while (fill(Clock::now(), lost)) {
    }
    if (lost) return true;
    std::size_t at = 0;
    while (input_.size() - at >= kHeader) {
        const std::size_t length = be16(&input_[at + 4]);
        if (length < 2 || length > kMaxLength || be16(&input_[at + 2]) != 0) {
            input_.clear();
            return false;
        }
        at += 6 + length;
    }
    return false;
}

bool TcpTransport::send_all(const uint8_t* data, std::size_t n) {
    std::size_t done = 0;
    while (done < n) {
        const ssize_t rc = ::send(fd(), data + done, n - done, MSG_NOSIGNAL);
        if (rc < 0 && errno == EINTR) continue;
        if (rc <= 0) return false;
        done += static_cast<std::size_t>(rc);
    }
    return true;
}

// A frame with this request's transaction id: what it means for the request.
int32_t TcpTransport::judge(const Request& r, const std::vector<uint8_t>& f) const {
    const int function =
        r.read() ? MODBUS_FC_READ_HOLDING_REGISTERS : MODBUS_FC_WRITE_MULTIPLE_REGISTERS;
    if (be16(&f[2]) != 0 || f[6] != r.station) return REGWIRE_ECRC;
    const uint8_t* pdu = &f[kHeader];
    const std::size_t pdu_length = f.size() - kHeader;
    if (pdu_length == 2 && pdu[0] == (function | 0x80)) {
        if (pdu[1] == 0 || pdu[1] >= MODBUS_EXCEPTION_MAX) return REGWIRE_ECRC;
        return REGWIRE_EXCEPTION_BASE - pdu[1];
    }
    if (pdu[0] != function) return REGWIRE_ECRC;
    if (r.read()) {
        if (pdu_length < 2 || pdu[1] != 2 * r.count || pdu_length != 2u + pdu[1]) {
            return REGWIRE_ECRC;
        }
        for (int i = 0; i < r.count; ++i) {
            r.dest[i] = static_cast<uint16_t>((pdu[2 + 2 * i] << 8) | pdu[3 + 2 * i]);
        }
        return REGWIRE_OK;
    }
    if (pdu_length != 5 || be16(&pdu[1]) != r.start || be16(&pdu[3]) != r.count) {
        return REGWIRE_ECRC;
    }
    return REGWIRE_OK;
}

int32_t TcpTransport::transfer(const Request& r, TraceRecord& record) {
    const auto began = Clock::now();
    const int request_bytes = r.read() ? read_request_bytes() : write_request_bytes(r.count);
    const int reply_bytes = r.read() ? read_reply_bytes(r.count) : write_reply_bytes();
    record.timeout_us = timing_.response_timeout_us(request_bytes, reply_bytes);
    const auto until = began + std::chrono::microseconds(record.timeout_us);
    int stale = 0;
    auto finish = [&](int32_t result) {
        record.elapsed_ms = std::chrono::duration<double, std::milli>(Clock::now() - began).count();
        record.stale = stale;
        // A broadcast: only a failure to send, or a lost connection, counts.
        if (r.broadcast() && result != REGWIRE_ELOST && result != REGWIRE_EIO) return REGWIRE_OK;
        return result;
    };

    const uint16_t id = ++transaction_;
    std::vector<uint8_t> adu;
    const std::size_t pdu_length = r.read() ? 5 : 6u + 2u * static_cast<unsigned>(r.count);
    adu.reserve(kHeader + pdu_length);
    auto put16 = [&adu](unsigned v) {
        adu.push_back(static_cast<uint8_t>(v >> 8));
        adu.push_back(static_cast<uint8_t>(v & 0xFF));
    };
    put16(id);
    put16(0);
    put16(static_cast<unsigned>(1 + pdu_length));
    adu.push_back(static_cast<uint8_t>(r.station));
    adu.push_back(r.read() ? MODBUS_FC_READ_HOLDING_REGISTERS : MODBUS_FC_WRITE_MULTIPLE_REGISTERS);
    put16(static_cast<unsigned>(r.start));
    put16(static_cast<unsigned>(r.count));
    if (!r.read()) {
        adu.push_back(static_cast<uint8_t>(2 * r.count));
        for (int i = 0; i < r.count; ++i) put16(r.src[i]);
    }
    if (!send_all(adu.data(), adu.size())) {
        return finish(is_lost_errno(errno) ? REGWIRE_ELOST : REGWIRE_EIO);
    }

    for (;;) {
        std::vector<uint8_t> frame;
        switch (next_frame(until, frame)) {
            case Got::Lost:
                return finish(REGWIRE_ELOST);
            case Got::Unsynced:
                input_.clear();
                remember(id);
                return finish(REGWIRE_ECRC);
            case Got::Nothing:
                remember(id);
                return finish(REGWIRE_ETIMEOUT);
            case Got::Frame:
                break;
        }
        const uint16_t tid = be16(&frame[0]);
        if (tid == id) return finish(judge(r, frame));
        const auto earlier = std::find(unanswered_.begin(), unanswered_.end(), tid);
        if (earlier != unanswered_.end()) {
            // The late reply to an earlier request: skip it, keep waiting.
            unanswered_.erase(earlier);
            ++stale;
            continue;
        }
        remember(id);
        return finish(REGWIRE_ECRC);
    }
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
    if (!split_tcp(device, host, service)) {
        set_reason("not an address of the form tcp:HOST:PORT");
        return REGWIRE_EOPEN;
    }
    // libmodbus makes the connection (name lookup, IPv4 or IPv6, no delay).
    modbus_t* ctx = connect_context(modbus_new_tcp_pi(host.c_str(), service.c_str()));
    if (ctx == nullptr) return REGWIRE_EOPEN;
    out = std::make_unique<TcpTransport>(ctx, timing);
    return REGWIRE_OK;
}

}  // namespace regwire
