// SPDX-License-Identifier: MIT
// Modbus TCP: the MBAP header around the codec's PDU. The unit identifier is
// the station, and the transaction id ties a reply to its request: a reply with
// another id (late, or a repeat) is skipped and the wait goes on; a reply with
// ours counts when its unit and PDU answer the request. A stream whose framing
// is lost is closed and connected again for the next request.
#include <errno.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <vector>

#include "regwire.h"
#include "transport.h"

namespace regwire {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kHeader = 7;        // transaction, protocol, length, unit
constexpr std::size_t kMaxLength = 254;   // the length field: unit id and PDU
constexpr std::size_t kMaxInput = 65536;  // input kept at most: a flood is cut off

using pdu::be16;
using pdu::put16;

class TcpTransport final : public Transport {
  public:
    TcpTransport(modbus_t* ctx, Timing timing) : Transport(ctx, timing) {}

    Outcome before_request() override;
    Outcome transfer(const Request& request, TraceRecord& record) override;

  private:
    enum class Got { Frame, Nothing, Lost, Unsynced };
    // Reads what is waiting, or waits until `until` for more. Lost on a closed
    // or failed connection.
    bool fill(Clock::time_point until, bool& lost);
    Got next_frame(Clock::time_point until, std::vector<uint8_t>& frame);
    Outcome judge(const Request& r, const std::vector<uint8_t>& f) const;
    bool send_all(const std::vector<uint8_t>& adu);
    std::vector<uint8_t> frame_request(uint16_t id, const Request& r) const;
    // A stream whose framing is lost cannot be read on: it is closed, and the
    // next request connects again.
    Outcome unsynced();

    uint16_t transaction_ = 0;
    bool disconnected_ = false;
    std::vector<uint8_t> input_;  // the byte stream not yet taken as frames
};

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

// The next whole frame of the stream, waiting for it until `until`.
TcpTransport::Got TcpTransport::next_frame(Clock::time_point until, std::vector<uint8_t>& frame) {
    for (;;) {
        if (input_.size() >= kHeader) {
            const std::size_t length = be16(&input_[4]);
            if (length < 2 || length > kMaxLength || be16(&input_[2]) != 0) return Got::Unsynced;
            const std::size_t total = 6 + length;
            if (input_.size() >= total) {
                frame.assign(input_.begin(), input_.begin() + static_cast<long>(total));
                input_.erase(input_.begin(), input_.begin() + static_cast<long>(total));
                return Got::Frame;
            }
        }
        if (Clock::now() >= until) return Got::Nothing;
        bool lost = false;
        if (!fill(until, lost) && lost) return Got::Lost;
        if (input_.size() > kMaxInput) return Got::Unsynced;
    }
}

Outcome TcpTransport::unsynced() {
    input_.clear();
    modbus_close(ctx_);
    disconnected_ = true;
    return {REGWIRE_ECRC,
            "the reply stream lost its framing; connecting again for the next request"};
}

// Before a request: a stream closed for lost framing connects again; a peer
// that closed or failed is gone. What waits is read; whole replies are kept
// (their transaction ids sort them out).
Outcome TcpTransport::before_request() {
    if (disconnected_) {
        if (modbus_connect(ctx_) != 0) {
            return {REGWIRE_EIO, "connecting again: " + os_error_text(errno)};
        }
        disconnected_ = false;
    }
    bool lost = false;
    while (input_.size() <= kMaxInput && fill(Clock::now(), lost)) {
    }
    if (lost) return {REGWIRE_ELOST, "the connection was closed"};
    return {REGWIRE_OK, {}};
}

bool TcpTransport::send_all(const std::vector<uint8_t>& adu) {
    std::size_t done = 0;
    while (done < adu.size()) {
        const ssize_t rc = ::send(fd(), adu.data() + done, adu.size() - done, MSG_NOSIGNAL);
        if (rc < 0 && errno == EINTR) continue;
        if (rc <= 0) return false;
        done += static_cast<std::size_t>(rc);
    }
    return true;
}

std::vector<uint8_t> TcpTransport::frame_request(uint16_t id, const Request& r) const {
    const pdu::Bytes body = pdu::encode(r.pdu());
    std::vector<uint8_t> adu;
    adu.reserve(kHeader + body.size());
    put16(adu, id);
    put16(adu, 0);
    put16(adu, static_cast<unsigned>(1 + body.size()));
    adu.push_back(static_cast<uint8_t>(r.station));
    adu.insert(adu.end(), body.begin(), body.end());
    return adu;
}

// A frame with this request's transaction id: what it means for the request.
Outcome TcpTransport::judge(const Request& r, const std::vector<uint8_t>& f) const {
    if (f[6] != r.station) return {REGWIRE_ECRC, "a reply from another unit"};
    uint16_t values[pdu::kMaxReadCount];
    const pdu::Reply reply = pdu::decode(r.pdu(), &f[kHeader], f.size() - kHeader, values);
    switch (reply.verdict) {
        case pdu::Verdict::Malformed:
            return {REGWIRE_ECRC, std::string("a malformed reply: ") + reply.problem};
        case pdu::Verdict::Exception:
            return {REGWIRE_EXCEPTION_BASE - reply.exception, {}};
        case pdu::Verdict::Values:
            std::copy_n(values, r.count, r.dest);
            break;
        case pdu::Verdict::Echo:
            break;
    }
    return {REGWIRE_OK, {}};
}

Outcome TcpTransport::transfer(const Request& r, TraceRecord& record) {
    const auto began = Clock::now();
    const int request_bytes = r.read() ? read_request_bytes() : write_request_bytes(r.count);
    const int reply_bytes = r.read() ? read_reply_bytes(r.count) : write_reply_bytes();
    record.timeout_us = timing_.response_timeout_us(request_bytes, reply_bytes);
    const auto until = began + std::chrono::microseconds(record.timeout_us);
    int stale = 0;
    auto finish = [&](Outcome o) {
        record.elapsed_ms = std::chrono::duration<double, std::milli>(Clock::now() - began).count();
        record.stale = stale;
        // A broadcast: only a failure to send, or a lost connection, counts.
        if (r.broadcast() && o.result != REGWIRE_ELOST && o.result != REGWIRE_EIO) {
            return Outcome{REGWIRE_OK, {}};
        }
        return o;
    };

    const uint16_t id = ++transaction_;
    if (!send_all(frame_request(id, r))) {
        const int err = errno;
        return finish(
            {is_lost_errno(err) ? REGWIRE_ELOST : REGWIRE_EIO, "sending: " + os_error_text(err)});
    }
    for (;;) {
        std::vector<uint8_t> frame;
        switch (next_frame(until, frame)) {
            case Got::Lost:
                return finish({REGWIRE_ELOST, "the connection was closed"});
            case Got::Unsynced:
                return finish(unsynced());
            case Got::Nothing:
                return finish(
                    {REGWIRE_ETIMEOUT,
                     "no reply within " + std::to_string(record.timeout_us / 1000) + " ms"});
            case Got::Frame:
                break;
        }
        if (be16(&frame[0]) == id) return finish(judge(r, frame));
        // The late reply to an earlier request, or a repeat of an answered one:
        // skip it and keep waiting for ours, but not past the timeout however
        // much the peer sends.
        ++stale;
        if (Clock::now() >= until) {
            return finish({REGWIRE_ETIMEOUT, "no reply of this request's among " +
                                                 std::to_string(stale) + " others"});
        }
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

Outcome open_tcp_transport(const std::string& device, Timing timing,
                           std::unique_ptr<Transport>& out) {
    std::string host;
    std::string service;
    if (!split_tcp(device, host, service)) {
        return {REGWIRE_EOPEN, "not an address of the form tcp:HOST:PORT"};
    }
    // libmodbus makes the connection (name lookup, IPv4 or IPv6, no delay).
    modbus_t* ctx = modbus_new_tcp_pi(host.c_str(), service.c_str());
    if (Outcome o = connect_context(ctx); o.result != REGWIRE_OK) return o;
    out = std::make_unique<TcpTransport>(ctx, timing);
    return {REGWIRE_OK, {}};
}

}  // namespace regwire
