// SPDX-License-Identifier: MIT
// Modbus RTU on a serial line. A function 03 reply carries no address, so a
// late reply can pass for the next request's. The transport therefore keeps the
// send times of the requests whose replies have not come, takes a reply heard
// while any of them may still be answered only once the line has stayed quiet
// long enough to rule that out, and learns how late the slave answers.
#include <errno.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <vector>

#include "failure.h"
#include "regwire.h"
#include "transport.h"

namespace regwire {

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kOpenSettleUs = 5000;      // lets the open glitch arrive before the flush
constexpr uint32_t kCeilingUs = 2000000;      // the most the learned allowance grows to
constexpr int kRequestBound = 3;              // a request ends within this many timeouts
constexpr uint32_t kWatchTimeouts = 4;        // and a watch for late replies within this many
constexpr std::size_t kKeepBytes = 1024;      // input kept while looking for a frame
constexpr uint32_t kLateHorizonUs = 2000000;  // no reply is expected later than this

Clock::duration us(uint64_t n) {
    return std::chrono::microseconds(n);
}

uint64_t us_between(Clock::time_point a, Clock::time_point b) {
    return b <= a ? 0
                  : static_cast<uint64_t>(
                        std::chrono::duration_cast<std::chrono::microseconds>(b - a).count());
}

uint16_t crc16(const uint8_t* p, std::size_t n) {
    uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1u) != 0 ? static_cast<uint16_t>((crc >> 1) ^ 0xA001u)
                                  : static_cast<uint16_t>(crc >> 1);
        }
    }
    return crc;
}

bool crc_ok(const uint8_t* p, std::size_t n) {
    if (n < 4) return false;
    const uint16_t crc = crc16(p, n - 2);
    return p[n - 2] == (crc & 0xFF) && p[n - 1] == (crc >> 8);
}

// The length of a reply frame of function 03 or 16 (or their exceptions) that
// starts at p, or 0 when the function is none of these or the length is not yet
// known.
std::size_t reply_length(const uint8_t* p, std::size_t available) {
    if (available < 2) return 0;
    switch (p[1]) {
        case MODBUS_FC_READ_HOLDING_REGISTERS:
            return available < 3 ? 0 : 5u + p[2];
        case MODBUS_FC_WRITE_MULTIPLE_REGISTERS:
            return 8;
        case MODBUS_FC_READ_HOLDING_REGISTERS | 0x80:
        case MODBUS_FC_WRITE_MULTIPLE_REGISTERS | 0x80:
            return 5;
        default:
            return 0;
    }
}

// A pseudo-terminal's slave side: it has no line, no parity and, held open by
// the program at its other end, no last close that would clear TIOCEXCL.
bool is_pty(const struct stat& st) {
    const unsigned m = major(st.st_rdev);
    return S_ISCHR(st.st_mode) && m >= 136 && m <= 143;
}

class SerialTransport final : public Transport {
  public:
    SerialTransport(modbus_t* ctx, Timing timing, bool pty)
        : Transport(ctx, timing),
          base_us_(timing.turnaround_us),
          ceiling_us_(timing.max_turnaround_us),
          pty_(pty) {}

    bool hung_up_or_dirty() override;
    int32_t transfer(const Request& request, TraceRecord& record) override;

  private:
    // What the line brought.
    // Garbled and Truncated: the start of a reply from the station, spoiled or cut
    // short; Noise: bytes that are no reply at all.
    enum class Heard { Frame, Nothing, Garbled, Truncated, Noise, Lost };

    void before_close() override {
        // A pseudo-terminal got no TIOCEXCL (see open); a real line loses it at
        // its last close anyway, but another process may hold it open too.
        if (!pty_) ::ioctl(fd(), TIOCNXCL);
    }
    Heard listen(int station, Clock::time_point first_byte_by, Clock::time_point give_up,
                 std::vector<uint8_t>& frame, Clock::time_point& at);
    bool take_frame(int station, std::vector<uint8_t>& frame);
    Heard leftover_kind(int station);
    int32_t judge(const Request& r, const uint8_t* req, const std::vector<uint8_t>& frame) const;
    void late_reply_seen(Clock::time_point at, bool exact);
    int32_t settle(int32_t result, uint64_t took_us);
    void reply_on_time(uint64_t took_us);
    uint32_t watch_us(uint32_t reply_wire_us) const;
    void prune(Clock::time_point now);

    uint32_t base_us_;     // the configured allowance
    uint32_t ceiling_us_;  // what it may grow to
    bool pty_;
    // Send times of requests whose replies have not been heard, oldest first,
    // while a late reply to them is still possible.
    std::deque<Clock::time_point> unanswered_;
    Clock::duration last_gap_{};    // between the last two requests with replies outstanding
    std::vector<uint8_t> input_;    // bytes read and not yet taken as a frame
    int stale_ = 0;                 // late replies skipped for this request
    int function_ = 0;              // of the request on the line
    uint32_t last_timeout_us_ = 0;  // of the previous request
};

// FIONREAD rather than poll(): a terminal's poll() first waits for the
// terminal's input work to finish, which cost a wake-up of another CPU on every
// request (round trips on a pty 3 to 4 times those of plain libmodbus); only
// after a failed request is that wait worth it. A hung-up terminal refuses the
// ioctl with EIO.
bool SerialTransport::hung_up_or_dirty() {
    input_.clear();
    stale_ = 0;  // counted for the request about to go out
    if (!unanswered_.empty()) {
        // A late reply may be on its way through the terminal's input work;
        // poll() waits for that work, so what has arrived shows below.
        pollfd p{fd(), POLLIN, 0};
        ::poll(&p, 1, 0);
    }
    int waiting = 0;
    if (::ioctl(fd(), FIONREAD, &waiting) != 0) return is_lost_errno(errno);
    if (waiting <= 0) return false;
    // Whatever waits is stale. A whole reply among it answers the oldest request
    // still unanswered: the slave is at least that late.
    std::vector<uint8_t> stale(static_cast<std::size_t>(waiting));
    const ssize_t n = ::read(fd(), stale.data(), stale.size());
    if (n < 0) return is_lost_errno(errno);
    modbus_flush(ctx_);
    const auto now = Clock::now();
    prune(now);
    for (std::size_t i = 0; i + 4 < static_cast<std::size_t>(n) && !unanswered_.empty(); ++i) {
        const std::size_t len = reply_length(&stale[i], static_cast<std::size_t>(n) - i);
        if (len != 0 && i + len <= static_cast<std::size_t>(n) && crc_ok(&stale[i], len)) {
            late_reply_seen(now, false);
            i += len - 1;
        }
    }
    return false;
}

void SerialTransport::prune(Clock::time_point now) {
    // Past the ceiling no reply is expected any more.
    const auto horizon =
        us(std::max(ceiling_us_, kLateHorizonUs) + timing_.wire_us(2 * MODBUS_RTU_MAX_ADU_LENGTH));
    while (!unanswered_.empty() && now - unanswered_.front() > horizon) unanswered_.pop_front();
    if (unanswered_.empty()) last_gap_ = {};
}

// A reply heard at `at` belonged to the oldest unanswered request: the slave
// answers that late, and the allowance grows to cover it (exact: `at` is when
// it arrived; otherwise it arrived by then).
void SerialTransport::late_reply_seen(Clock::time_point at, bool exact) {
    ++stale_;
    if (unanswered_.empty()) return;
    const uint64_t late = us_between(unanswered_.front(), at);
    if (unanswered_.size() >= 2) last_gap_ = unanswered_[1] - unanswered_[0];
    unanswered_.pop_front();
    const uint64_t want = exact ? late + late / 4 : late;
    timing_.turnaround_us =
        static_cast<uint32_t>(std::clamp<uint64_t>(want, timing_.turnaround_us, ceiling_us_));
}

// The frame taken as this request's reply gave `result`. A clean reply (values,
// echo or exception) answers everything still outstanding and tells how long the
// slave takes; a wrong one leaves the line suspect.
int32_t SerialTransport::settle(int32_t result, uint64_t took_us) {
    if (result == REGWIRE_OK || REGWIRE_IS_EXCEPTION(result)) {
        unanswered_.clear();
        last_gap_ = {};
        reply_on_time(took_us);
    }
    return result;
}

// A reply came in time: a learned allowance decays a quarter of the way toward
// what this reply needed, never below the configured one.
void SerialTransport::reply_on_time(uint64_t took_us) {
    const uint64_t target = std::max<uint64_t>(base_us_, took_us + took_us / 4);
    if (timing_.turnaround_us > target) {
        timing_.turnaround_us -= static_cast<uint32_t>((timing_.turnaround_us - target) / 4);
    }
}

// How long the line must stay quiet after a reply heard while earlier requests
// are unanswered: had that reply been a late one, the reply to the next request
// would follow it after the time between the two requests.
uint32_t SerialTransport::watch_us(uint32_t reply_wire_us) const {
    Clock::duration gap = last_gap_;
    for (std::size_t i = 1; i < unanswered_.size(); ++i) {
        gap = std::max(gap, unanswered_[i] - unanswered_[i - 1]);
    }
    return static_cast<uint32_t>(
               std::chrono::duration_cast<std::chrono::microseconds>(gap).count()) +
           reply_wire_us + timing_.byte_timeout_us();
}

// Looks for a whole reply frame from `station` anywhere in the input, so that
// noise ahead of a reply does not hide it. The frame and what came before it
// leave the input.
bool SerialTransport::take_frame(int station, std::vector<uint8_t>& frame) {
    for (std::size_t i = 0; i < input_.size(); ++i) {
        if (input_[i] != station) continue;
        const std::size_t len = reply_length(&input_[i], input_.size() - i);
        if (len == 0 || i + len > input_.size() || !crc_ok(&input_[i], len)) continue;
        frame.assign(input_.begin() + static_cast<long>(i),
                     input_.begin() + static_cast<long>(i + len));
        input_.erase(input_.begin(), input_.begin() + static_cast<long>(i + len));
        return true;
    }
    return false;
}

// Bytes that went quiet without a reply frame of ours among them.
SerialTransport::Heard SerialTransport::leftover_kind(int station) {
    std::vector<uint8_t> bytes;
    bytes.swap(input_);
    // A sealed frame (another station's, another function's, or one whose byte
    // count promises more than it carries) is a wrong reply, not a slow one.
    if (crc_ok(bytes.data(), bytes.size())) return Heard::Garbled;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] != station) continue;
        if (i + 1 < bytes.size() && (bytes[i + 1] & 0x7F) != function_) continue;
        const std::size_t len = reply_length(&bytes[i], bytes.size() - i);
        return len == 0 || len > bytes.size() - i ? Heard::Truncated : Heard::Garbled;
    }
    return Heard::Noise;
}

// Waits for a reply frame: its first byte by `first_byte_by`, later bytes at
// most a byte timeout apart, all by `give_up`.
SerialTransport::Heard SerialTransport::listen(int station, Clock::time_point first_byte_by,
                                               Clock::time_point give_up,
                                               std::vector<uint8_t>& frame, Clock::time_point& at) {
    if (take_frame(station, frame)) {
        at = Clock::now();
        return Heard::Frame;
    }
    Clock::time_point last_byte = Clock::now();
    for (;;) {
        const auto now = Clock::now();
        auto until = input_.empty() ? first_byte_by : last_byte + us(timing_.byte_timeout_us());
        until = std::min(until, give_up);
        if (now >= until) {
            if (input_.empty()) return Heard::Nothing;
            return leftover_kind(station);
        }
        const auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(until - now).count();
        const timespec ts{static_cast<time_t>(wait / 1000000000),
                          static_cast<long>(wait % 1000000000)};
        pollfd p{fd(), POLLIN, 0};
        const int rc = ::ppoll(&p, 1, &ts, nullptr);
        if (rc < 0) {
            if (errno == EINTR) continue;
            return Heard::Lost;
        }
        if (rc == 0) continue;
        if ((p.revents & POLLIN) == 0) return Heard::Lost;  // hung up, error
        uint8_t chunk[256];
        const ssize_t n = ::read(fd(), chunk, sizeof chunk);
        if (n <= 0) {
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            return Heard::Lost;
        }
        input_.insert(input_.end(), chunk, chunk + n);
        last_byte = Clock::now();
        if (input_.size() > kKeepBytes) {
            input_.erase(input_.begin(), input_.end() - static_cast<long>(kKeepBytes / 2));
        }
        if (take_frame(station, frame)) {
            at = Clock::now();
            return Heard::Frame;
        }
    }
}

// What a reply frame from the station means for request `req`.
int32_t SerialTransport::judge(const Request& r, const uint8_t* req,
                               const std::vector<uint8_t>& f) const {
    const int function = req[1];
    if (f.size() == 5 && f[1] == (function | 0x80)) {
        // Code 0 is no exception; libmodbus names codes up to its own maximum.
        if (f[2] == 0 || f[2] >= MODBUS_EXCEPTION_MAX) return REGWIRE_ECRC;
        return REGWIRE_EXCEPTION_BASE - f[2];
    }
    if (f[1] != function) return REGWIRE_ECRC;
    if (r.read()) {
        if (f[2] != 2 * r.count || f.size() != 5u + f[2]) return REGWIRE_ECRC;
        for (int i = 0; i < r.count; ++i) {
            r.dest[i] = static_cast<uint16_t>((f[3 + 2 * i] << 8) | f[4 + 2 * i]);
        }
        return REGWIRE_OK;
    }
    // A write's echo: station, function, address and quantity, then the CRC.
    return f.size() == 8 && std::memcmp(f.data(), req, 6) == 0 ? REGWIRE_OK : REGWIRE_ECRC;
}

int32_t SerialTransport::transfer(const Request& r, TraceRecord& record) {
    const auto began = Clock::now();
    const int request_bytes = r.read() ? read_request_bytes() : write_request_bytes(r.count);
    const int reply_bytes = r.read() ? read_reply_bytes(r.count) : write_reply_bytes();
    // A broadcast has no reply; the wait lets the slaves act on it before the
    // next request.
    const uint32_t timeout_us = r.broadcast()
                                    ? timing_.wire_us(request_bytes) + timing_.turnaround_us
                                    : timing_.response_timeout_us(request_bytes, reply_bytes);
    record.timeout_us = timeout_us;
    record.allowance_us = timing_.turnaround_us;
    function_ = r.read() ? MODBUS_FC_READ_HOLDING_REGISTERS : MODBUS_FC_WRITE_MULTIPLE_REGISTERS;
    prune(began);
    // After a failed request the bound grows by the watch for late replies.
    const bool suspect = !unanswered_.empty();
    // The longest watch for late replies this request may keep: four times the
    // longer of its own and the previous request's timeout and two byte gaps
    // (back to back, requests are a timeout apart, or a byte gap after a spoiled
    // reply; a read tick of 500 ms fits too). A watch that would need longer
    // cannot tell a late reply from the answer in time.
    const uint32_t most_watch_us = kWatchTimeouts * std::max(timeout_us, last_timeout_us_) +
                                   timing_.wire_us(reply_bytes) + 2 * timing_.byte_timeout_us();
    last_timeout_us_ = timeout_us;
    const auto give_up = began + us(uint64_t{kRequestBound} * timeout_us + most_watch_us);
    auto finish = [&](int32_t result) {
        record.elapsed_ms = std::chrono::duration<double, std::milli>(Clock::now() - began).count();
        record.stale = stale_;
        return result;
    };

    uint8_t req[7 + 2 * MODBUS_MAX_WRITE_REGISTERS];
    int req_length = 6;
    req[0] = static_cast<uint8_t>(r.station);
    req[1] = r.read() ? MODBUS_FC_READ_HOLDING_REGISTERS : MODBUS_FC_WRITE_MULTIPLE_REGISTERS;
    req[2] = static_cast<uint8_t>(r.start >> 8);
    req[3] = static_cast<uint8_t>(r.start & 0xFF);
    req[4] = static_cast<uint8_t>(r.count >> 8);
    req[5] = static_cast<uint8_t>(r.count & 0xFF);
    if (!r.read()) {
        req[6] = static_cast<uint8_t>(2 * r.count);
        for (int i = 0; i < r.count; ++i) {
            req[7 + 2 * i] = static_cast<uint8_t>(r.src[i] >> 8);
            req[8 + 2 * i] = static_cast<uint8_t>(r.src[i] & 0xFF);
        }
        req_length = 7 + 2 * r.count;
    }

    // libmodbus frames the request (CRC) and writes it.
    if (modbus_send_raw_request(ctx_, req, req_length) < 0) {
        return finish(is_lost_errno(errno) ? REGWIRE_ELOST : REGWIRE_EIO);
    }
    const auto sent = Clock::now();
    std::vector<uint8_t> frame;
    Clock::time_point at;

    if (r.broadcast()) {
        // Nothing that comes back is a slave's answer.
        const auto end = sent + us(timeout_us);
        do {
            if (listen(-1, end, end, frame, at) == Heard::Lost) return finish(REGWIRE_ELOST);
            input_.clear();
        } while (Clock::now() < end);
        return finish(REGWIRE_OK);
    }

    if (!unanswered_.empty()) last_gap_ = sent - unanswered_.back();
    unanswered_.push_back(sent);
    const auto first_byte_by = sent + us(timeout_us);
    for (;;) {
        Heard h = listen(r.station, first_byte_by, give_up, frame, at);
        switch (h) {
            case Heard::Lost:
                return finish(REGWIRE_ELOST);
            case Heard::Nothing:
                return finish(REGWIRE_ETIMEOUT);
            case Heard::Noise:
                return finish(REGWIRE_ECRC);
            case Heard::Truncated:
                return finish(REGWIRE_ETIMEOUT);
            case Heard::Garbled:
                // A spoiled reply may hide a late one: this request stays unanswered.
                return finish(REGWIRE_ECRC);
            case Heard::Frame:
                break;
        }
        int32_t result = judge(r, req, frame);
        if (!suspect) return finish(settle(result, us_between(sent, at)));
        if (result == REGWIRE_ECRC && unanswered_.size() > 1) {
            // Not the shape of our reply: a late one to an earlier request.
            late_reply_seen(at, true);
            continue;
        }
        // Earlier requests are unanswered: this frame counts only when nothing
        // follows it for as long as the reply to this request would take to
        // follow, had the frame been a late one.
        for (;;) {
            const uint32_t watch = watch_us(timing_.wire_us(reply_bytes));
            if (watch > most_watch_us) {
                // The slave would be later than the timeouts of both requests:
                // the frame may be a late one, and the slave at least that late.
                late_reply_seen(at, false);
                return finish(REGWIRE_EIO);
            }
            const auto quiet_until = at + us(watch);
            std::vector<uint8_t> next;
            Clock::time_point next_at;
            const bool cut = quiet_until > give_up;
            h = listen(r.station, std::min(quiet_until, give_up), give_up, next, next_at);
            if (h == Heard::Lost) return finish(REGWIRE_ELOST);
            if (h == Heard::Garbled || h == Heard::Truncated) {
                // The start of another reply: the frame was a late one.
                late_reply_seen(at, true);
                return finish(REGWIRE_ECRC);
            }
            // Bytes that are no reply may still be this request's, spoiled: the line
            // was not quiet, so the frame cannot count.
            if (h == Heard::Noise) return finish(REGWIRE_ECRC);
            if (h != Heard::Frame) {
                if (cut) {
                    // Not quiet for long enough to tell: the frame may have been
                    // a late one, and the slave at least that late.
                    late_reply_seen(at, false);
                    return finish(REGWIRE_EIO);
                }
                return finish(settle(result, us_between(sent, at)));
            }
            // Another reply followed: the frame was a late one to an earlier request.
            late_reply_seen(at, true);
            frame.swap(next);
            at = next_at;
            result = judge(r, req, frame);
        }
    }
}

}  // namespace

int32_t open_serial_transport(const std::string& device, int baud, char parity, Timing timing,
                              std::unique_ptr<Transport>& out) {
    struct stat st = {};
    const bool pty = ::stat(device.c_str(), &st) == 0 && is_pty(st);
    // Linux keeps no parity on a pseudo-terminal. Asking for one anyway fails once
    // the terminal holds every other setting asked for (a killed user left them):
    // tcsetattr() then changed nothing and reports EINVAL.
    if (pty) parity = 'N';
    modbus_t* ctx = connect_context(modbus_new_rtu(device.c_str(), baud, parity, 8, 1));
    if (ctx == nullptr) return REGWIRE_EOPEN;
    const int fd = modbus_get_socket(ctx);
    // Exclusive use of the line: TIOCEXCL stops later opens by other programs
    // (root excepted), the lock stops another Regwire user, root or not, and dies
    // with us. A pseudo-terminal gets the lock only: the program at its other end
    // keeps it open, so a TIOCEXCL would outlive a killed process and lock
    // everyone else out.
    if ((!pty && ::ioctl(fd, TIOCEXCL) != 0) || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        set_reason(err == EWOULDBLOCK ? "in use by another Regwire user"
                                      : "cannot have it to itself: " + os_error_text(err));
        modbus_close(ctx);
        modbus_free(ctx);
        return REGWIRE_EOPEN;
    }
    // Opening a line can put a glitch on it; let it arrive, then drop it.
    timespec pause{0, static_cast<long>(kOpenSettleUs) * 1000L};
    ::nanosleep(&pause, nullptr);
    modbus_flush(ctx);
    out = std::make_unique<SerialTransport>(ctx, timing, pty);
    return REGWIRE_OK;
}

}  // namespace regwire
