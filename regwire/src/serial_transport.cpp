// SPDX-License-Identifier: MIT
// Modbus RTU on a serial line: the station byte and CRC around the codec's PDU,
// silence between frames, and the rule that keeps values true (awaiting.h). A
// function 03 reply carries no address, so no request is sent while another
// that awaits its answer could get a reply of the same shape: a read is widened
// by a register or two to take another shape, anything else waits or is not
// sent. The transport also learns how late the slave answers.
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
#include <cstdio>
#include <cstring>
#include <optional>
#include <set>
#include <tuple>
#include <vector>

#include "awaiting.h"
#include "regwire.h"
#include "transport.h"

namespace regwire {

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kOpenSettleUs = 5000;    // lets the open glitch arrive before the flush
constexpr int kRequestBound = 3;            // a request ends within this many timeouts
constexpr std::size_t kKeepBytes = 1024;    // input kept while looking for a frame
constexpr std::size_t kMostRefused = 4096;  // widened reads remembered as refused
// Requests to one station that may await an answer at once. A slave that works
// on one request at a time queues the rest: every further request sent to it
// makes each reply later, until replies come past the horizon.
constexpr std::size_t kMostAwaited = 2;
constexpr int kMostWidening = 8;  // registers a read may grow by to take another shape

Clock::duration us(uint64_t n) {
    return std::chrono::microseconds(n);
}

uint64_t us_between(Clock::time_point a, Clock::time_point b) {
    return b <= a ? 0
                  : static_cast<uint64_t>(
                        std::chrono::duration_cast<std::chrono::microseconds>(b - a).count());
}

// The length of an RTU reply frame (station, PDU, CRC) starting at p, once
// known; 0 when not yet known or no reply we ask for.
std::size_t frame_length(const uint8_t* p, std::size_t available) {
    if (available < 2) return 0;
    const std::size_t pdu = pdu::reply_length(p + 1, available - 1);
    return pdu == 0 ? 0 : pdu + 3;
}

// The length of the RTU frame of a reply to `w` (not an exception).
std::size_t frame_length_of(const Request& w) {
    return static_cast<std::size_t>(w.read() ? read_reply_bytes(w.count) : write_reply_bytes());
}

std::string millis_text(Clock::duration d) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f ms",
                  std::chrono::duration<double, std::milli>(d).count());
    return text;
}

// A pseudo-terminal's slave side: it has no line, no parity and, held open by
// the program at its other end, no last close that would clear TIOCEXCL.
bool is_pty(const struct stat& st) {
    const unsigned m = major(st.st_rdev);
    return S_ISCHR(st.st_mode) && m >= 136 && m <= 143;
}

// What goes on the wire for a caller's request: the same, or a read widened so
// that its reply has a shape no earlier request may still be answered with.
// The caller's values are wire values [skip, skip + count).
struct Plan {
    Request wire;
    int skip = 0;
    int count = 0;  // the caller's
    bool widened() const { return wire.count != count; }
};

class SerialTransport final : public Transport {
  public:
    SerialTransport(modbus_t* ctx, Timing timing, bool pty)
        : Transport(ctx, timing),
          base_us_(timing.turnaround_us),
          ceiling_us_(timing.max_turnaround_us),
          pty_(pty) {}

    Outcome before_request() override;
    Outcome transfer(const Request& request, TraceRecord& record) override;

  private:
    // What the line brought.
    // Garbled and Truncated: the start of a reply from the station, spoiled or cut
    // short; Noise: bytes that are no reply at all.
    enum class Heard { Frame, Nothing, Garbled, Truncated, Noise, Lost };
    // A whole reply frame heard while a request is on the line.
    enum class Meaning { Ours, Earlier, Ignore };

    void before_close() override {
        // A pseudo-terminal got no TIOCEXCL (see open); a real line loses it at
        // its last close anyway, but another process may hold it open too.
        if (!pty_) ::ioctl(fd(), TIOCNXCL);
    }
    // Reads what came unasked; true when the device is gone.
    bool read_arrivals();
    void sort_out_arrivals(const uint8_t* bytes, std::size_t n, Clock::time_point at);
    std::optional<Plan> plan(const Request& r, bool widen, Clock::time_point& free_at) const;
    Outcome wait_for_shape(const Request& r, bool widen, Clock::time_point deadline, Plan& out);
    Outcome attempt(const Request& r, bool widen, Clock::time_point began, TraceRecord& record);
    uint32_t timeout_us(const Request& wire) const;
    Heard listen(int station, Clock::time_point first_byte_by, Clock::time_point give_up,
                 std::vector<uint8_t>& frame, Clock::time_point& at);
    bool take_frame(int station, std::vector<uint8_t>& frame);
    Heard leftover_kind(int station);
    Meaning meaning(const std::vector<uint8_t>& frame, const std::vector<uint8_t>& sent_frame,
                    const pdu::Shape& ours, Clock::time_point at, Clock::time_point earliest);
    Outcome judge(const Plan& p, const std::vector<uint8_t>& frame, Clock::time_point sent,
                  Clock::time_point at);
    Outcome await_reply(const Plan& p, const std::vector<uint8_t>& request,
                        Clock::time_point before, Clock::time_point first_byte_by,
                        Clock::time_point give_up);
    Outcome send(const std::vector<uint8_t>& frame);
    Outcome broadcast(Clock::time_point sent, uint32_t timeout);
    void late_reply_seen(uint64_t late_us, bool exact);
    void reply_on_time(uint64_t took_us);
    Clock::duration horizon(const Request& wire) const;

    uint32_t base_us_;     // the configured allowance
    uint32_t ceiling_us_;  // what it may grow to: no reply is expected later
    bool pty_;
    Awaiting awaiting_;
    // Widened reads a station refused (exception 2: past the end of its map).
    std::set<std::tuple<int, int, int>> refused_;
    bool refused_now_ = false;    // the last widened read was refused
    std::vector<uint8_t> input_;  // bytes read and not yet taken as a frame
    std::vector<uint8_t> echo_;   // the request on the line, until its echo is passed over
    int stale_ = 0;               // late replies skipped for this request
    int function_ = 0;            // of the request on the line
};

// FIONREAD rather than poll(): a terminal's poll() first waits for the
// terminal's input work to finish, which cost a wake-up of another CPU on every
// request; only while a reply may still come is that wait worth it. A hung-up
// terminal refuses the ioctl with EIO.
Outcome SerialTransport::before_request() {
    if (read_arrivals()) return {REGWIRE_ELOST, "the device hung up; open the port again"};
    return {REGWIRE_OK, {}};
}

bool SerialTransport::read_arrivals() {
    input_.clear();
    stale_ = 0;  // counted for the request about to go out
    const auto now = Clock::now();
    awaiting_.expire(now);
    if (awaiting_.size() > 0) {
        // A late reply may be on its way through the terminal's input work;
        // poll() waits for that work, so what has arrived shows below.
        pollfd p{fd(), POLLIN, 0};
        ::poll(&p, 1, 0);
    }
    int waiting = 0;
    if (::ioctl(fd(), FIONREAD, &waiting) != 0) return is_lost_errno(errno);
    if (waiting <= 0) return false;
    std::vector<uint8_t> bytes(static_cast<std::size_t>(waiting));
    const ssize_t n = ::read(fd(), bytes.data(), bytes.size());
    if (n < 0) return is_lost_errno(errno);
    sort_out_arrivals(bytes.data(), static_cast<std::size_t>(n), Clock::now());
    return false;
}

// Bytes nobody is waiting for: each whole reply among them answers the oldest
// request of its shape still awaiting one (the slave is at least that late);
// the rest is dropped.
void SerialTransport::sort_out_arrivals(const uint8_t* bytes, std::size_t n, Clock::time_point at) {
    for (std::size_t i = 0; i + 4 < n; ++i) {
        const std::size_t len = frame_length(&bytes[i], n - i);
        if (len == 0 || i + len > n || !pdu::sealed(&bytes[i], len)) continue;
        bool repeat = false;
        const auto sent =
            awaiting_.answer_earlier(bytes[i], &bytes[i + 1], len - 3, at, false, repeat);
        if (sent) late_reply_seen(us_between(*sent, at), false);
        if (repeat) awaiting_.repeats_heard();
        i += len - 1;
    }
}

// The request to send now, or nothing when every shape it could take may still
// be the reply to an earlier request; then `free_at` is when the first frees.
// A shape whose reply was taken a moment ago is avoided where a read can take
// another; once this line was heard repeating replies, it blocks a request
// until the earlier request's horizon.
std::optional<Plan> SerialTransport::plan(const Request& r, bool widen,
                                          Clock::time_point& free_at) const {
    std::vector<Plan> candidates{{r, 0, r.count}};
    for (int more = 1; widen && r.read() && more <= kMostWidening; ++more) {
        const int count = r.count + more;
        if (count > pdu::kMaxReadCount) break;
        for (int below : {0, more}) {  // the extra registers after the block, then before
            Request w = r;
            w.start = r.start - below;
            w.count = count;
            if (w.start < 0 || w.start + count - 1 > 65535) continue;
            if (refused_.count({r.station, w.start, count}) != 0) continue;
            candidates.push_back({w, below, r.count});
        }
    }
    free_at = Clock::time_point::max();
    if (awaiting_.unanswered(r.station, free_at) >= kMostAwaited) return std::nullopt;
    const auto now = Clock::now();
    for (bool avoid_recent : {true, false}) {
        for (const Plan& p : candidates) {
            const auto until =
                awaiting_.in_use_until(pdu::shape_of(r.station, p.wire.pdu()), avoid_recent, now);
            if (!until) return p;
            free_at = std::min(free_at, *until);
        }
    }
    return std::nullopt;
}

// Waits, within `deadline`, until the request can go out without its reply
// being mistaken for an earlier request's; nothing is sent when that would
// take longer (REGWIRE_EPENDING).
Outcome SerialTransport::wait_for_shape(const Request& r, bool widen, Clock::time_point deadline,
                                        Plan& out) {
    for (;;) {
        Clock::time_point free_at;
        if (auto p = plan(r, widen, free_at)) {
            out = *p;
            return {REGWIRE_OK, {}};
        }
        const auto now = Clock::now();
        if (free_at > deadline) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(free_at - now);
            return {REGWIRE_EPENDING,
                    "an earlier request to station " + std::to_string(r.station) +
                        " may still be answered with a reply of the same form for " +
                        std::to_string(left.count() + 1) + " ms; nothing sent"};
        }
        const auto wait =
            std::chrono::duration_cast<std::chrono::nanoseconds>(free_at - now).count();
        if (wait > 0) {
            const timespec ts{static_cast<time_t>(wait / 1000000000),
                              static_cast<long>(wait % 1000000000)};
            ::nanosleep(&ts, nullptr);
        }
        if (read_arrivals()) return {REGWIRE_ELOST, "the device hung up; open the port again"};
    }
}

// How long after its request a reply to it may start to come, at most.
uint32_t SerialTransport::timeout_us(const Request& w) const {
    if (w.broadcast()) return timing_.wire_us(write_request_bytes(w.count)) + timing_.turnaround_us;
    const int request_bytes = w.read()   ? read_request_bytes()
                              : w.single ? read_request_bytes()
                                         : write_request_bytes(w.count);
    const int reply_bytes = w.read() ? read_reply_bytes(w.count) : write_reply_bytes();
    return timing_.response_timeout_us(request_bytes, reply_bytes);
}

// A request awaits its answer this long: the most a slave may take, and the
// line time of request and reply.
Clock::duration SerialTransport::horizon(const Request& w) const {
    return us(uint64_t{ceiling_us_} + timeout_us(w) - timing_.turnaround_us +
              timing_.byte_timeout_us());
}

// A reply heard `late_us` after its request, which had timed out: the slave
// answers that late, and the allowance grows to cover it (exact: the arrival
// was seen; otherwise it arrived by then).
void SerialTransport::late_reply_seen(uint64_t late_us, bool exact) {
    ++stale_;
    const uint64_t want = exact ? late_us + late_us / 4 : late_us;
    timing_.turnaround_us =
        static_cast<uint32_t>(std::clamp<uint64_t>(want, timing_.turnaround_us, ceiling_us_));
}

// A reply came in time: a learned allowance decays a quarter of the way toward
// what this reply needed, never below the configured one.
void SerialTransport::reply_on_time(uint64_t took_us) {
    const uint64_t target = std::max<uint64_t>(base_us_, took_us + took_us / 4);
    if (timing_.turnaround_us > target) {
        timing_.turnaround_us -= static_cast<uint32_t>((timing_.turnaround_us - target) / 4);
    }
}

// Looks for a whole reply frame from `station` anywhere in the input, so that
// noise ahead of a reply does not hide it. The frame and what came before it
// leave the input.
bool SerialTransport::take_frame(int station, std::vector<uint8_t>& frame) {
    // On a line that echoes, our request comes back first.
    if (!echo_.empty() && input_.size() >= echo_.size() &&
        std::equal(echo_.begin(), echo_.end(), input_.begin())) {
        input_.erase(input_.begin(), input_.begin() + static_cast<long>(echo_.size()));
        echo_.clear();
    }
    for (std::size_t i = 0; i < input_.size(); ++i) {
        if (input_[i] != station) continue;
        const std::size_t len = frame_length(&input_[i], input_.size() - i);
        if (len == 0 || i + len > input_.size() || !pdu::sealed(&input_[i], len)) continue;
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
    if (pdu::sealed(bytes.data(), bytes.size())) return Heard::Garbled;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] != station) continue;
        if (i + 1 < bytes.size() && (bytes[i + 1] & 0x7F) != function_) continue;
        const std::size_t len = frame_length(&bytes[i], bytes.size() - i);
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

// Whose a whole reply frame of the station is: the echo of our own request on
// a line that echoes, a frame complete before request and reply could have
// crossed the line (a repeat, or one that was waiting), a late reply to an
// earlier request, or ours.
SerialTransport::Meaning SerialTransport::meaning(const std::vector<uint8_t>& frame,
                                                  const std::vector<uint8_t>& sent_frame,
                                                  const pdu::Shape& ours, Clock::time_point at,
                                                  Clock::time_point earliest) {
    if (frame == sent_frame) return Meaning::Ignore;
    bool repeat = false;
    const auto sent =
        awaiting_.answer_earlier(frame[0], &frame[1], frame.size() - 3, at, true, repeat);
    if (sent) {
        late_reply_seen(us_between(*sent, at), true);
        return Meaning::Earlier;
    }
    // A copy of an earlier reply that our own reply could equal may be ours.
    if (repeat && !pdu::fits(ours, &frame[1], frame.size() - 3)) {
        awaiting_.repeats_heard();
        ++stale_;
        return Meaning::Ignore;
    }
    if (at < earliest) {
        ++stale_;
        return Meaning::Ignore;
    }
    return Meaning::Ours;
}

// What our reply frame says.
Outcome SerialTransport::judge(const Plan& p, const std::vector<uint8_t>& frame,
                               Clock::time_point sent, Clock::time_point at) {
    uint16_t values[pdu::kMaxReadCount];
    const pdu::Reply reply = pdu::decode(p.wire.pdu(), &frame[1], frame.size() - 3, values);
    if (reply.verdict == pdu::Verdict::Malformed) {
        // Spoiled or not ours after all: it teaches nothing, and the request's
        // shape stays in use in case its real reply still comes.
        awaiting_.heard_newest();
        return {REGWIRE_ECRC, std::string("a malformed reply: ") + reply.problem};
    }
    awaiting_.answer_newest(at, &frame[1], frame.size() - 3);
    reply_on_time(us_between(sent, at));
    if (reply.verdict == pdu::Verdict::Exception) {
        if (p.widened() && reply.exception == 2) {
            // The extra registers lie past the end of the slave's map: never ask
            // for them again; the caller's registers were not asked for.
            if (refused_.size() >= kMostRefused) refused_.clear();
            refused_.insert({p.wire.station, p.wire.start, p.wire.count});
            refused_now_ = true;
            return {REGWIRE_EPENDING, "the slave refused registers " +
                                          std::to_string(p.wire.start) + ".." +
                                          std::to_string(p.wire.start + p.wire.count - 1) +
                                          ", read to tell its reply from an earlier one's"};
        }
        return {REGWIRE_EXCEPTION_BASE - reply.exception, {}};
    }
    if (p.wire.read()) std::copy_n(values + p.skip, p.count, p.wire.dest);
    return {REGWIRE_OK, {}};
}

Outcome SerialTransport::send(const std::vector<uint8_t>& frame) {
    std::size_t done = 0;
    while (done < frame.size()) {
        const ssize_t n = ::write(fd(), frame.data() + done, frame.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int err = errno;
            return {is_lost_errno(err) ? REGWIRE_ELOST : REGWIRE_EIO,
                    "sending: " + os_error_text(err)};
        }
        done += static_cast<std::size_t>(n);
    }
    return {REGWIRE_OK, {}};
}

// A broadcast has no reply; the wait lets the slaves act on it before the next
// request. Nothing that comes back is a slave's answer.
Outcome SerialTransport::broadcast(Clock::time_point sent, uint32_t timeout) {
    const auto end = sent + us(timeout);
    std::vector<uint8_t> frame;
    Clock::time_point at;
    do {
        if (listen(-1, end, end, frame, at) == Heard::Lost) {
            return {REGWIRE_ELOST, "the device hung up"};
        }
        input_.clear();
    } while (Clock::now() < end);
    return {REGWIRE_OK, {}};
}

// Listens for the reply to the request on the line: its first byte by
// `first_byte_by`, all of it by `give_up`. The echo of the request, repeats
// and late replies to earlier requests are passed over.
Outcome SerialTransport::await_reply(const Plan& p, const std::vector<uint8_t>& request,
                                     Clock::time_point before, Clock::time_point first_byte_by,
                                     Clock::time_point give_up) {
    // On a real line a reply cannot be whole before request and reply have both
    // crossed it: at least 10 bits a character where 11 are counted, less a
    // tenth for the clocks.
    const uint64_t line_us = timing_.wire_us(static_cast<int>(request.size()) +
                                             static_cast<int>(frame_length_of(p.wire)));
    const auto earliest = pty_ ? before : before + us(line_us * 10 / 11 * 9 / 10);
    std::vector<uint8_t> frame;
    Clock::time_point at;
    for (;;) {
        switch (listen(p.wire.station, first_byte_by, give_up, frame, at)) {
            case Heard::Lost:
                return {REGWIRE_ELOST, "the device hung up"};
            case Heard::Nothing:
                return {REGWIRE_ETIMEOUT, "no reply within " + millis_text(first_byte_by - before)};
            case Heard::Truncated:
                return {REGWIRE_ETIMEOUT, "a reply cut short"};
            case Heard::Noise:
                return {REGWIRE_ECRC, "bytes that are no reply"};
            case Heard::Garbled:
                awaiting_.heard_newest();
                return {REGWIRE_ECRC, "a spoiled reply, or another station's"};
            case Heard::Frame:
                break;
        }
        const pdu::Shape ours = pdu::shape_of(p.wire.station, p.wire.pdu());
        if (meaning(frame, request, ours, at, earliest) == Meaning::Ours) {
            return judge(p, frame, before, at);
        }
    }
}

Outcome SerialTransport::transfer(const Request& r, TraceRecord& record) {
    const auto began = Clock::now();
    Outcome o = attempt(r, true, began, record);
    // A widened read the slave refused asked nothing of the caller's: once more
    // as asked.
    if (refused_now_) o = attempt(r, false, began, record);
    record.elapsed_ms = std::chrono::duration<double, std::milli>(Clock::now() - began).count();
    record.stale = stale_;
    return o;
}

// Sends the request, as planned, and awaits its reply.
Outcome SerialTransport::attempt(const Request& r, bool widen, Clock::time_point began,
                                 TraceRecord& record) {
    refused_now_ = false;
    record.timeout_us = timeout_us(r);
    record.allowance_us = timing_.turnaround_us;
    Plan p;
    Outcome o = wait_for_shape(r, widen, began + us(timeout_us(r)), p);
    if (o.result != REGWIRE_OK) return o;
    record.widened_start = p.wire.start;
    record.widened_count = p.widened() ? p.wire.count : 0;
    const uint32_t timeout = timeout_us(p.wire);
    record.timeout_us = timeout;
    record.allowance_us = timing_.turnaround_us;
    function_ = p.wire.function();

    const std::vector<uint8_t> frame =
        pdu::rtu_frame(static_cast<uint8_t>(r.station), pdu::encode(p.wire.pdu()));
    const auto before = Clock::now();
    if (o = send(frame); o.result != REGWIRE_OK) return o;
    const auto sent = Clock::now();
    echo_ = frame;
    if (r.broadcast()) return broadcast(sent, timeout);
    // A repeat of the reply comes within the slave's configured turnaround.
    const auto repeat_window =
        us(uint64_t{base_us_} + timing_.wire_us(static_cast<int>(frame_length_of(p.wire))) +
           timing_.byte_timeout_us());
    awaiting_.add(pdu::shape_of(r.station, p.wire.pdu()), sent, sent + horizon(p.wire),
                  repeat_window);
    const auto give_up = began + us(uint64_t{kRequestBound} * timeout);
    return await_reply(p, frame, before, sent + us(timeout), give_up);
}

}  // namespace

Outcome open_serial_transport(const std::string& device, int baud, char parity, Timing timing,
                              std::unique_ptr<Transport>& out) {
    struct stat st = {};
    const bool pty = ::stat(device.c_str(), &st) == 0 && is_pty(st);
    // Linux keeps no parity on a pseudo-terminal. Asking for one anyway fails once
    // the terminal holds every other setting asked for (a killed user left them):
    // tcsetattr() then changed nothing and reports EINVAL.
    if (pty) parity = 'N';
    modbus_t* ctx = modbus_new_rtu(device.c_str(), baud, parity, 8, 1);
    if (Outcome o = connect_context(ctx); o.result != REGWIRE_OK) return o;
    const int fd = modbus_get_socket(ctx);
    // Exclusive use of the line: TIOCEXCL stops later opens by other programs
    // (root excepted), the lock stops another Regwire user, root or not, and dies
    // with us. A pseudo-terminal gets the lock only: the program at its other end
    // keeps it open, so a TIOCEXCL would outlive a killed process and lock
    // everyone else out.
    if ((!pty && ::ioctl(fd, TIOCEXCL) != 0) || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        modbus_close(ctx);
        modbus_free(ctx);
        return {REGWIRE_EOPEN, err == EWOULDBLOCK
                                   ? "in use by another Regwire user"
                                   : "cannot have it to itself: " + os_error_text(err)};
    }
    // Opening a line can put a glitch on it; let it arrive, then drop it.
    timespec pause{0, static_cast<long>(kOpenSettleUs) * 1000L};
    ::nanosleep(&pause, nullptr);
    modbus_flush(ctx);
    out = std::make_unique<SerialTransport>(ctx, timing, pty);
    return {REGWIRE_OK, {}};
}

}  // namespace regwire
