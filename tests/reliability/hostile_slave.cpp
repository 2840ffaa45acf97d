// SPDX-License-Identifier: MIT
#include "hostile_slave.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <iterator>

#include "modbus_crc.h"

namespace reliability {

namespace {

constexpr int kRegisters = 65536;
constexpr std::size_t kKeptFrames = 32;
// The master's longest frames on the line at 921600 bit/s, request and reply
// together (263 bytes of 11 bits), rounded up.
constexpr long kLongestWireUs = 3300;

bool prompt(Answer a) {
    switch (a) {
        case Answer::Correct:
        case Answer::Exception:
        case Answer::RandomBytes:
        case Answer::Truncated:
        case Answer::TrailingJunk:
        case Answer::Oversized:
        case Answer::WrongStation:
        case Answer::WrongFunction:
        case Answer::WrongCount:
        case Answer::BadCrc:
            return true;
        default:
            return false;
    }
}

// Whether a write is carried out with this answer. Where the reply goes wrong on
// the way, a real slave may or may not have acted on the request.
enum class Applies { Yes, No, Maybe };
Applies applies(Answer a) {
    switch (a) {
        case Answer::Correct:
        case Answer::TrailingJunk:
        case Answer::DelayedInTime:
        case Answer::HeldToNext:
        case Answer::LateBeforeNext:
            return Applies::Yes;
        case Answer::Exception:
            return Applies::No;
        default:
            return Applies::Maybe;
    }
}

std::vector<std::uint8_t> without_crc(const std::vector<std::uint8_t>& frame) {
    return {frame.begin(), frame.end() - 2};
}

}  // namespace

const char* answer_name(Answer a) {
    switch (a) {
        case Answer::Correct:
            return "correct reply";
        case Answer::Exception:
            return "exception reply";
        case Answer::Silent:
            return "no reply";
        case Answer::RandomBytes:
            return "random bytes";
        case Answer::Truncated:
            return "truncated reply";
        case Answer::TrailingJunk:
            return "reply + trailing junk";
        case Answer::Oversized:
            return "oversized frame";
        case Answer::WrongStation:
            return "wrong station";
        case Answer::WrongFunction:
            return "wrong function";
        case Answer::WrongCount:
            return "wrong byte count/quantity";
        case Answer::BadCrc:
            return "bad CRC";
        case Answer::DelayedInTime:
            return "delayed within timeout";
        case Answer::HeldToNext:
            return "delayed past timeout, sent with next";
        case Answer::LateBeforeNext:
            return "delayed past timeout, before next";
        case Answer::Replay:
            return "replay of another reply";
    }
    return "?";
}

HostileSlave::HostileSlave(std::uint64_t seed, int station, int turnaround_ms)
    : station_(station), turnaround_us_(1000L * turnaround_ms), rng_(seed) {
    ptmx_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128] = {};
    if (ptmx_ < 0 || ::grantpt(ptmx_) != 0 || ::unlockpt(ptmx_) != 0 ||
        ::ptsname_r(ptmx_, name, sizeof name) != 0) {
        error_ = "posix_openpt failed";
        return;
    }
    device_ = name;
    // Held open so that the master never sees a hang-up between its sessions.
    pts_held_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (pts_held_ < 0) {
        error_ = "cannot open " + device_;
        return;
    }
    for (int fd : {pts_held_, ptmx_}) {
        termios t{};
        if (::tcgetattr(fd, &t) == 0) {
            ::cfmakeraw(&t);
            ::tcsetattr(fd, TCSANOW, &t);
        }
    }
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair_) != 0 ||
        ::pipe2(stop_, O_CLOEXEC) != 0) {
        error_ = "socketpair or pipe failed";
        return;
    }
    ::fcntl(pair_[1], F_SETFL, ::fcntl(pair_[1], F_GETFL) | O_NONBLOCK);

    mapping_ = modbus_mapping_new(0, 0, kRegisters, 0);
    // Parses requests from the line.
    rx_ = modbus_new_rtu(name, 921600, 'N', 8, 1);
    // Builds correct replies into a socket pair, to be read back and sent or spoiled.
    builder_ = modbus_new_rtu("builder", 921600, 'N', 8, 1);
    if (mapping_ == nullptr || rx_ == nullptr || builder_ == nullptr ||
        modbus_set_slave(rx_, station) != 0 || modbus_set_socket(rx_, ptmx_) != 0 ||
        modbus_set_slave(builder_, station) != 0 || modbus_set_socket(builder_, pair_[0]) != 0) {
        error_ = "libmodbus contexts";
        return;
    }
    modbus_set_error_recovery(rx_, MODBUS_ERROR_RECOVERY_NONE);
    for (int i = 0; i < kRegisters; ++i) {
        mapping_->tab_registers[i] = static_cast<std::uint16_t>(rng_());
    }
    thread_ = std::thread([this] { run(); });
}

HostileSlave::~HostileSlave() {
    if (thread_.joinable()) {
        const char stop = 's';
        while (::write(stop_[1], &stop, 1) < 0 && errno == EINTR) {
        }
        thread_.join();
    }
    if (rx_ != nullptr) modbus_free(rx_);
    if (builder_ != nullptr) modbus_free(builder_);
    if (mapping_ != nullptr) modbus_mapping_free(mapping_);
    for (int fd : {ptmx_, pts_held_, pair_[0], pair_[1], stop_[0], stop_[1]}) {
        if (fd >= 0) ::close(fd);
    }
}

void HostileSlave::script(std::vector<Step> steps) {
    std::lock_guard<std::mutex> lock(mu_);
    script_.assign(steps.begin(), steps.end());
}

void HostileSlave::master_reopened() {
    std::lock_guard<std::mutex> lock(mu_);
    reopened_ = true;
}

bool HostileSlave::input_pending() const {
    pollfd p{ptmx_, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0;
}

bool HostileSlave::wait_idle(std::chrono::milliseconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    std::unique_lock<std::mutex> lock(mu_);
    for (;;) {
        // In this order: the slave marks itself busy before it takes a request
        // off the line.
        if (!input_pending() && !busy_) return true;
        if (std::chrono::steady_clock::now() >= end) return false;
        idle_cv_.wait_for(lock, std::chrono::milliseconds(1));
    }
}

std::vector<Served> HostileSlave::take_log() {
    std::lock_guard<std::mutex> lock(mu_);
    std::vector<Served> out;
    out.swap(log_);
    return out;
}

std::vector<std::uint16_t> HostileSlave::registers(int start, int count) {
    std::lock_guard<std::mutex> lock(mu_);
    return {mapping_->tab_registers + start, mapping_->tab_registers + start + count};
}

long HostileSlave::requests() const {
    std::lock_guard<std::mutex> lock(mu_);
    return requests_;
}

std::array<long, kAnswerKinds> HostileSlave::answers() const {
    std::lock_guard<std::mutex> lock(mu_);
    return answers_;
}

long HostileSlave::crc_disagreements() const {
    std::lock_guard<std::mutex> lock(mu_);
    return crc_disagreements_;
}

long HostileSlave::unreadable() const {
    std::lock_guard<std::mutex> lock(mu_);
    return unreadable_;
}

void HostileSlave::run() {
    std::uint8_t req[MODBUS_RTU_MAX_ADU_LENGTH];
    for (;;) {
        pollfd p[2] = {{stop_[0], POLLIN, 0}, {ptmx_, POLLIN, 0}};
        if (::poll(p, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (p[0].revents != 0) return;
        if ((p[1].revents & POLLIN) == 0) {
            if (!pause_us(2000)) return;
            continue;
        }
        {
            std::lock_guard<std::mutex> lock(mu_);
            busy_ = true;
        }
        const int rc = modbus_receive(rx_, req);
        if (rc >= 8) {
            handle(req, rc);
        } else {
            std::lock_guard<std::mutex> lock(mu_);
            ++unreadable_;
            if (rc == 0) {
                // libmodbus would now wait for another station's reply; start afresh.
                modbus_free(rx_);
                rx_ = modbus_new_rtu(device_.c_str(), 921600, 'N', 8, 1);
                modbus_set_slave(rx_, station_);
                modbus_set_socket(rx_, ptmx_);
                modbus_set_error_recovery(rx_, MODBUS_ERROR_RECOVERY_NONE);
            }
        }
        {
            std::lock_guard<std::mutex> lock(mu_);
            busy_ = false;
        }
        idle_cv_.notify_all();
    }
}

Answer HostileSlave::pick(bool prompt_only) {
    // Weights in percent; a correct reply now and then keeps the master in business.
    static constexpr std::array<int, kAnswerKinds> kAny = {24, 5, 5, 5, 5, 5, 5, 5,
                                                           5,  5, 5, 6, 5, 4, 11};
    static constexpr std::array<int, kAnswerKinds> kPrompt = {30, 8, 0, 7, 7, 8, 8, 8,
                                                              8,  8, 8, 0, 0, 0, 0};
    const auto& weights = prompt_only ? kPrompt : kAny;
    int total = 0;
    for (int w : weights) total += w;
    int r = static_cast<int>(rng_() % static_cast<unsigned>(total));
    for (int i = 0; i < kAnswerKinds; ++i) {
        if (r < weights[static_cast<std::size_t>(i)]) return static_cast<Answer>(i);
        r -= weights[static_cast<std::size_t>(i)];
    }
    return Answer::Correct;
}

std::vector<std::uint8_t> HostileSlave::read_back(int sent) {
    std::vector<std::uint8_t> frame;
    if (sent <= 0) return frame;
    frame.resize(static_cast<std::size_t>(sent));
    const ssize_t n = ::read(pair_[1], frame.data(), frame.size());
    frame.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    if (!frame.empty() && !crc_ok(frame)) ++crc_disagreements_;
    return frame;
}

std::vector<std::uint8_t> HostileSlave::build_reply(const std::uint8_t* req, int length) {
    return read_back(modbus_reply(builder_, req, length, mapping_));
}

std::vector<std::uint8_t> HostileSlave::build_exception(const std::uint8_t* req, int code) {
    return read_back(modbus_reply_exception(builder_, req, static_cast<unsigned>(code)));
}

std::vector<std::uint8_t> HostileSlave::random_bytes(int min, int max) {
    const int n = min + static_cast<int>(rng_() % static_cast<unsigned>(max - min + 1));
    std::vector<std::uint8_t> out(static_cast<std::size_t>(n));
    for (auto& b : out) b = static_cast<std::uint8_t>(rng_());
    return out;
}

void HostileSlave::keep(const std::vector<std::uint8_t>& frame, int function, int start, int count,
                        bool answered) {
    kept_.push_back({frame, function, start, count, answered});
    if (kept_.size() > kKeptFrames) kept_.pop_front();
}

// A valid frame of the other shape: for a read, a reply with another register
// count; for a write, the echo of a write of as many registers to another address.
std::vector<std::uint8_t> HostileSlave::other_shape_reply(const std::uint8_t* req,
                                                          const std::vector<std::uint8_t>& reply) {
    const int function = req[1];
    const int start = (req[2] << 8) | req[3];
    const int count = (req[4] << 8) | req[5];
    std::vector<std::uint8_t> frame;
    if (function == MODBUS_FC_READ_HOLDING_REGISTERS) {
        int other = 1 + static_cast<int>(rng_() % 125u);
        if (other == count) other = count == 125 ? 124 : count + 1;
        frame = {static_cast<std::uint8_t>(station_), static_cast<std::uint8_t>(function),
                 static_cast<std::uint8_t>(2 * other)};
        for (int i = 0; i < other; ++i) {
            const std::uint16_t v = mapping_->tab_registers[(start + i) % kRegisters];
            frame.push_back(static_cast<std::uint8_t>(v >> 8));
            frame.push_back(static_cast<std::uint8_t>(v & 0xFF));
        }
    } else {
        frame = without_crc(reply);
        int other = static_cast<int>(rng_() % 65536u);
        if (other == start) other = (start + 1) % 65536;
        frame[2] = static_cast<std::uint8_t>(other >> 8);
        frame[3] = static_cast<std::uint8_t>(other & 0xFF);
    }
    append_crc(frame);
    return frame;
}

std::vector<std::uint8_t> HostileSlave::prompt_bytes(Answer a, const std::uint8_t* req,
                                                     const std::vector<std::uint8_t>& reply,
                                                     int code, bool scripted, bool& master_fails) {
    const int function = req[1];
    const int start = (req[2] << 8) | req[3];
    const int count = (req[4] << 8) | req[5];
    const bool read = function == MODBUS_FC_READ_HOLDING_REGISTERS;
    master_fails = true;
    std::vector<std::uint8_t> out;
    switch (a) {
        case Answer::Correct:
            master_fails = false;
            return reply;
        case Answer::TrailingJunk: {
            // The master takes the reply; the junk must not spoil its next request.
            master_fails = false;
            out = reply;
            const auto junk = random_bytes(1, 40);
            out.insert(out.end(), junk.begin(), junk.end());
            return out;
        }
        case Answer::Exception: {
            if (code == 0) {
                // Mostly the named codes; now and then one beyond them, or the
                // invalid code 0.
                static constexpr int kRare[] = {0, 12, 0x7F, 0xFF};
                code = rng_() % 10u != 0 ? 1 + static_cast<int>(rng_() % 11u)
                                         : kRare[rng_() % std::size(kRare)];
                // A slave that takes function 16 does not call it illegal: to a
                // one-register write, Regwire would then fall back to function 06.
                if (code == 1 && function == MODBUS_FC_WRITE_MULTIPLE_REGISTERS) code = 4;
            }
            // libmodbus builds codes up to 11 only: the code goes in by hand.
            out = without_crc(build_exception(req, 1));
            out[2] = static_cast<std::uint8_t>(code);
            append_crc(out);
            if (code != 0) {
                keep(out, function | 0x80, start, count, true);
                master_fails = false;
            }
            return out;
        }
        case Answer::RandomBytes:
            return random_bytes(1, 300);
        case Answer::Truncated: {
            const auto keep_bytes = 1 + rng_() % (reply.size() - 1);
            return {reply.begin(), reply.begin() + static_cast<long>(keep_bytes)};
        }
        case Answer::Oversized:
            if (read) {
                // A byte count that makes the frame longer than the 256 bytes a
                // serial frame may have.
                const int bytes = 252 + static_cast<int>(rng_() % 4u);
                out = {static_cast<std::uint8_t>(station_), static_cast<std::uint8_t>(function),
                       static_cast<std::uint8_t>(bytes)};
                const auto data = random_bytes(bytes, bytes);
                out.insert(out.end(), data.begin(), data.end());
                append_crc(out);
            } else {
                // The echo's header, then a long tail; never the echo's own CRC.
                out.assign(reply.begin(), reply.begin() + 6);
                out.push_back(static_cast<std::uint8_t>(reply[6] ^ 0x5A));
                out.push_back(static_cast<std::uint8_t>(rng_()));
                const auto tail = random_bytes(250, 500);
                out.insert(out.end(), tail.begin(), tail.end());
            }
            return out;
        case Answer::WrongStation: {
            out = without_crc(reply);
            static constexpr int kOthers[] = {0, 2, 246, 247, 248, 255};
            int other = station_;
            while (other == station_) {
                other = rng_() % 2u == 0 ? kOthers[rng_() % std::size(kOthers)]
                                         : 1 + static_cast<int>(rng_() % 247u);
            }
            out[0] = static_cast<std::uint8_t>(other);
            append_crc(out);
            return out;
        }
        case Answer::WrongFunction: {
            out = without_crc(reply);
            // A script gets a code whose reply has the same layout, so that only the
            // code itself is wrong.
            int other = read ? 0x04 : 0x06;
            if (!scripted) {
                static constexpr int kCodes[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x0F, 0x10,
                                                 0x11, 0x17, 0x2B, 0x41, 0x83, 0x84, 0x86, 0x90};
                do {
                    other = kCodes[rng_() % std::size(kCodes)];
                } while (other == function || other == (function | 0x80));
            }
            out[1] = static_cast<std::uint8_t>(other);
            append_crc(out);
            return out;
        }
        case Answer::WrongCount:
            if (read) {
                static constexpr int kDeltas[] = {-2, 2, -1, 1, 4};
                int bytes = -1;
                while (bytes < 0 || bytes > 250) {
                    bytes = 2 * count + kDeltas[rng_() % std::size(kDeltas)];
                }
                out = {static_cast<std::uint8_t>(station_), static_cast<std::uint8_t>(function),
                       static_cast<std::uint8_t>(bytes)};
                for (int i = 0; i < bytes; ++i) {
                    out.push_back(i < 2 * count ? reply[static_cast<std::size_t>(3 + i)]
                                                : static_cast<std::uint8_t>(rng_()));
                }
            } else {
                static constexpr int kDeltas[] = {-1, 1, 2, 256};
                out = without_crc(reply);
                const int other = (count + kDeltas[rng_() % std::size(kDeltas)]) & 0xFFFF;
                out[4] = static_cast<std::uint8_t>(other >> 8);
                out[5] = static_cast<std::uint8_t>(other & 0xFF);
            }
            append_crc(out);
            return out;
        case Answer::BadCrc:
            out = reply;
            out[out.size() - 1 - rng_() % 2u] ^= static_cast<std::uint8_t>(1 + rng_() % 255u);
            return out;
        default:
            return reply;
    }
}

void HostileSlave::handle(const std::uint8_t* req, int length) {
    std::unique_lock<std::mutex> lock(mu_);
    const int function = req[1];
    const int start = (req[2] << 8) | req[3];
    const int count = (req[4] << 8) | req[5];
    const bool read = function == MODBUS_FC_READ_HOLDING_REGISTERS;
    if (req[0] != station_ || (!read && function != MODBUS_FC_WRITE_MULTIPLE_REGISTERS)) {
        ++unreadable_;
        return;
    }
    if (reopened_) {
        reopened_ = false;
        held_.clear();
        master_failed_ = false;
    }
    ++requests_;

    // An answer held back from the last request goes out now, and must be followed
    // by bytes at once: the master, which timed out, watches for them.
    const bool held = !held_.empty();
    Step step{Answer::Correct, 0};
    const bool scripted = !script_.empty();
    if (scripted) {
        step = script_.front();
        script_.pop_front();
    } else {
        step.answer = pick(held);
    }
    if (held && !prompt(step.answer)) step.answer = Answer::Correct;

    Served s;
    s.function = function;
    s.start = start;
    s.count = count;
    s.answer = step.answer;

    // A replay while the master is on guard, then an answer to this request: the
    // late reply to the request the master just failed, or any earlier reply of
    // another shape. A device repeats no reply a master already had long ago.
    std::vector<std::uint8_t> stale;
    Answer effective = step.answer;
    if (step.answer == Answer::Replay && !scripted && master_failed_ && !kept_.empty()) {
        std::vector<const Kept*> late;
        for (const Kept& k : kept_) {
            const bool same_shape =
                read ? k.function == function && k.count == count
                     : k.function == function && k.start == start && k.count == count;
            if (!same_shape || (&k == &kept_.back() && !k.answered)) late.push_back(&k);
        }
        if (!late.empty()) {
            stale = late[rng_() % late.size()]->frame;
            effective = pick(true);
        }
    }
    s.stale_first = held || !stale.empty();
    s.follower = effective;

    // The correct reply, built by libmodbus, which also carries out a write.
    const Applies how = applies(effective);
    const bool apply =
        !read && (how == Applies::Yes || (how == Applies::Maybe && rng_() % 2u == 0));
    std::vector<std::uint16_t> before;
    if (!read && !apply)
        before = {mapping_->tab_registers + start, mapping_->tab_registers + start + count};
    const std::vector<std::uint8_t> reply = build_reply(req, length);
    if (!before.empty()) std::copy(before.begin(), before.end(), mapping_->tab_registers + start);
    if (reply.size() < 5 || reply[1] != function) {
        ++unreadable_;
        return;
    }
    s.applied = apply;
    if (read)
        s.values.assign(mapping_->tab_registers + start, mapping_->tab_registers + start + count);

    std::vector<std::uint8_t> out;
    if (held) out.swap(held_);
    out.insert(out.end(), stale.begin(), stale.end());

    bool master_fails = true;
    long delay_us = 0;
    switch (effective) {
        case Answer::Silent:
            break;
        case Answer::HeldToNext:
            held_ = reply;
            break;
        case Answer::LateBeforeNext:
            // Half an allowance past it: a master on time has given up when it comes
            // (one that looks late on a busy machine may still take it, rightly).
            delay_us =
                turnaround_us_ + kLongestWireUs + turnaround_us_ / 2 +
                static_cast<long>(rng_() % static_cast<unsigned long>(turnaround_us_ / 10 + 1));
            out.insert(out.end(), reply.begin(), reply.end());
            break;
        case Answer::DelayedInTime:
            // Within a quarter of the allowance: in time even when this thread runs late.
            delay_us =
                static_cast<long>(rng_() % static_cast<unsigned long>(turnaround_us_ / 4 + 1));
            out.insert(out.end(), reply.begin(), reply.end());
            master_fails = false;
            break;
        case Answer::Replay: {
            // Alone: only a frame that no careful master can take for the answer.
            std::vector<std::uint8_t> frame;
            if (!scripted && rng_() % 2u == 0) {
                std::vector<const Kept*> unfit;
                for (const Kept& k : kept_) {
                    const bool fits =
                        read ? k.function == function && k.count == count
                             : k.function == function && k.start == start && k.count == count;
                    if (!fits) unfit.push_back(&k);
                }
                if (!unfit.empty()) frame = unfit[rng_() % unfit.size()]->frame;
            }
            if (frame.empty()) frame = other_shape_reply(req, reply);
            // An exception of the right function is a clean (failed) answer.
            master_fails = !(frame[1] == (function | 0x80) && frame[2] >= 1);
            out.insert(out.end(), frame.begin(), frame.end());
            break;
        }
        default: {
            const auto bytes =
                prompt_bytes(effective, req, reply, step.code, scripted, master_fails);
            out.insert(out.end(), bytes.begin(), bytes.end());
            break;
        }
    }
    // A stale reply followed at once by the answer: a master that skips the stale
    // one takes the answer, and is no longer on guard.
    const bool answered = effective == Answer::Correct || effective == Answer::DelayedInTime ||
                          effective == Answer::TrailingJunk;
    if (s.stale_first && !answered) master_fails = true;
    // A late reply is still this request's own: a master that looks only after it
    // came (a busy machine) may take it, with exactly these values.
    s.genuine = answered || effective == Answer::LateBeforeNext;
    master_failed_ = master_fails;
    keep(reply, function, start, count, s.genuine);
    ++answers_[static_cast<std::size_t>(step.answer)];
    // New values for the next reader: a replayed reply shows old ones.
    if (read) {
        for (int i = 0; i < count; ++i) {
            mapping_->tab_registers[start + i] = static_cast<std::uint16_t>(rng_());
        }
    }
    // Logged before anything is sent: once the master has bytes, the log is current.
    log_.push_back(std::move(s));
    lock.unlock();

    if (delay_us > 0 && !pause_us(delay_us)) return;
    send(out);
}

void HostileSlave::send(const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (done < bytes.size() && std::chrono::steady_clock::now() < end) {
        const ssize_t n = ::write(ptmx_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno != EINTR && errno != EAGAIN) {
            return;
        }
    }
}

bool HostileSlave::pause_us(long us) {
    pollfd p{stop_[0], POLLIN, 0};
    timespec t{us / 1000000, (us % 1000000) * 1000};
    return ::ppoll(&p, 1, &t, nullptr) == 0;
}

}  // namespace reliability
