// SPDX-License-Identifier: MIT
#include "server.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <modbus.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <string>
#include <vector>

#include "counters.h"
#include "faults.h"
#include "registers.h"

namespace benchslave {

namespace {

long baud_of(speed_t speed) {
    switch (speed) {
        case B1200:
            return 1200;
        case B2400:
            return 2400;
        case B4800:
            return 4800;
        case B9600:
            return 9600;
        case B19200:
            return 19200;
        case B38400:
            return 38400;
        case B57600:
            return 57600;
        case B115200:
            return 115200;
        case B230400:
            return 230400;
        case B460800:
            return 460800;
        case B921600:
            return 921600;
        default:
            return -1;
    }
}

// Waits up to ms milliseconds, returning early (true) if a stop was requested.
bool wait_or_stop(int stop_fd, int ms) {
    pollfd p{stop_fd, POLLIN, 0};
    return ::poll(&p, 1, ms) > 0;
}

class Slave {
  public:
    Slave(const Options& options, int stop_fd) : o_(options), stop_fd_(stop_fd) {}

    ~Slave() {
        if (rx_ != nullptr) modbus_free(rx_);
        if (shadow_ != nullptr) modbus_free(shadow_);
        if (device_ctx_ != nullptr) {
            modbus_close(device_ctx_);
            modbus_free(device_ctx_);
        }
        if (tcp_ctx_ != nullptr) modbus_free(tcp_ctx_);
        if (mapping_ != nullptr) modbus_mapping_free(mapping_);
        for (int fd : {pty_master_, pty_held_, shadow_pair_[0], shadow_pair_[1], listen_fd_}) {
            if (fd >= 0) ::close(fd);
        }
        for (int fd : clients_) ::close(fd);
    }

    int run() {
        mapping_ = modbus_mapping_new(0, 0, kRegisterCount, 0);
        if (mapping_ == nullptr) return fail("modbus_mapping_new");
        fill_pattern(o_.pattern, mapping_->tab_registers);

        std::string address;
        if (o_.mode == LineMode::Pty) {
            if (!open_pty(address)) return 1;
        } else if (o_.mode == LineMode::Device) {
            if (!open_device(address)) return 1;
        } else {
            if (!open_tcp(address)) return 1;
        }
        if (!open_shadow()) return 1;

        write_counters();
        std::printf("%s\n", address.c_str());
        std::fflush(stdout);

        const int rc = o_.mode == LineMode::Tcp ? serve_tcp() : serve_rtu();

        write_counters();
        std::fputs(counters_.text().c_str(), stdout);
        std::fflush(stdout);
        return rc;
    }

  private:
    int fail(const char* what) {
        std::fprintf(stderr, "benchslave: %s: %s\n", what, modbus_strerror(errno));
        return 1;
    }

    // The line side: the pty master. The pts path is what a master opens. One
    // descriptor of the pts stays open here, so that the master side never sees a
    // hang-up between two sessions of a master.
    bool open_pty(std::string& address) {
        pty_master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (pty_master_ < 0 || ::grantpt(pty_master_) != 0 || ::unlockpt(pty_master_) != 0) {
            fail("posix_openpt");
            return false;
        }
        const char* name = ::ptsname(pty_master_);
        if (name == nullptr) {
            fail("ptsname");
            return false;
        }
        address = name;
        pty_held_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (pty_held_ < 0) {
            fail("open pts");
            return false;
        }
        for (int fd : {pty_held_, pty_master_}) {
            termios t{};
            if (::tcgetattr(fd, &t) == 0) {
                ::cfmakeraw(&t);
                ::tcsetattr(fd, TCSANOW, &t);
            }
        }
        line_fd_ = pty_master_;
        settings_fd_ = pty_held_;
        return make_rx(address.c_str());
    }

    bool open_device(std::string& address) {
        device_ctx_ = modbus_new_rtu(o_.device.c_str(), o_.baud, o_.parity, 8, 1);
        if (device_ctx_ == nullptr || modbus_connect(device_ctx_) != 0) {
            fail(o_.device.c_str());
            return false;
        }
        address = o_.device;
        line_fd_ = modbus_get_socket(device_ctx_);
        settings_fd_ = line_fd_;
        return make_rx(address.c_str());
    }

    // The context that parses requests from the line. It is made afresh after a
    // request for another station: libmodbus then expects that station's reply and
    // would swallow the next frame, but on this bench no other slave answers.
    bool make_rx(const char* name) {
        if (rx_ != nullptr) modbus_free(rx_);
        rx_ = modbus_new_rtu(name, 19200, 'N', 8, 1);
        if (rx_ == nullptr || modbus_set_slave(rx_, o_.station) != 0 ||
            modbus_set_socket(rx_, line_fd_) != 0) {
            fail("modbus_new_rtu");
            return false;
        }
        modbus_set_error_recovery(rx_, MODBUS_ERROR_RECOVERY_NONE);
        quick_exceptions(rx_);
        return true;
    }

    bool open_tcp(std::string& address) {
        tcp_ctx_ = modbus_new_tcp("127.0.0.1", o_.tcp_port);
        if (tcp_ctx_ == nullptr) {
            fail("modbus_new_tcp");
            return false;
        }
        listen_fd_ = modbus_tcp_listen(tcp_ctx_, 4);
        if (listen_fd_ < 0) {
            fail("modbus_tcp_listen");
            return false;
        }
        sockaddr_in bound{};
        socklen_t len = sizeof bound;
        if (::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&bound), &len) != 0) {
            fail("getsockname");
            return false;
        }
        address = "tcp:127.0.0.1:" + std::to_string(ntohs(bound.sin_port));
        rx_ = tcp_ctx_;
        tcp_ctx_ = nullptr;
        quick_exceptions(rx_);
        return true;
    }

    // A second context of the same kind whose "line" is a socket pair. libmodbus
    // builds a complete reply frame into it (CRC or MBAP header included), which we
    // read back to corrupt on purpose, or to drop for a broadcast.
    bool open_shadow() {
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, shadow_pair_) != 0) {
            fail("socketpair");
            return false;
        }
        const int flags = ::fcntl(shadow_pair_[1], F_GETFL);
        ::fcntl(shadow_pair_[1], F_SETFL, flags | O_NONBLOCK);
        shadow_ = o_.mode == LineMode::Tcp ? modbus_new_tcp("127.0.0.1", 0)
                                           : modbus_new_rtu("shadow", 19200, 'N', 8, 1);
        if (shadow_ == nullptr || modbus_set_socket(shadow_, shadow_pair_[0]) != 0) {
            fail("shadow context");
            return false;
        }
        modbus_set_slave(shadow_, o_.station);
        quick_exceptions(shadow_);
        return true;
    }

    // libmodbus sleeps the response timeout before some exception replies (a count
    // out of range); the master would take that for silence.
    static void quick_exceptions(modbus_t* ctx) { modbus_set_response_timeout(ctx, 0, 1); }

    // Builds the normal reply with libmodbus (applying any write), or the exception
    // reply with `exception_code`, and returns the frame.
    std::vector<std::uint8_t> build_reply(const std::uint8_t* req, int len,
                                          int exception_code = 0) {
        std::vector<std::uint8_t> frame;
        std::uint8_t stale[MODBUS_TCP_MAX_ADU_LENGTH];
        while (::read(shadow_pair_[1], stale, sizeof stale) > 0) {
        }
        const int rc = exception_code > 0 ? modbus_reply_exception(
                                                shadow_, req, static_cast<unsigned>(exception_code))
                                          : modbus_reply(shadow_, req, len, mapping_);
        if (rc <= 0) return frame;
        frame.resize(static_cast<std::size_t>(rc));
        const ssize_t n = ::read(shadow_pair_[1], frame.data(), frame.size());
        frame.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        return frame;
    }

    void write_counters() {
        if (!o_.counters_file.empty()) counters_.write_file(o_.counters_file);
    }

    void note_line_settings() {
        if (settings_fd_ < 0) return;
        termios t{};
        if (::tcgetattr(settings_fd_, &t) != 0) return;
        counters_.set("line_baud", baud_of(::cfgetospeed(&t)));
        long parity = 0;
        if ((t.c_cflag & PARENB) != 0) parity = (t.c_cflag & PARODD) != 0 ? 1 : 2;
        counters_.set("line_parity", parity);
    }

    void handle(modbus_t* ctx, int out_fd, const std::uint8_t* req, int len) {
        const auto arrival = Clock::now();
        const int hl = modbus_get_header_length(ctx);
        const int unit = req[hl - 1];
        const int function = req[hl];
        if (o_.mode == LineMode::Tcp && unit != o_.station && unit != 0) {
            counters_.add("ignored");
            write_counters();
            return;
        }
        if (o_.pattern == Pattern::Demo) {
            update_demo(mapping_->tab_registers, static_cast<long long>(std::time(nullptr)));
        }
        RequestRange range;
        range.function = function;
        range.start = (req[hl + 1] << 8) | req[hl + 2];
        if (function == MODBUS_FC_READ_HOLDING_REGISTERS ||
            function == MODBUS_FC_WRITE_MULTIPLE_REGISTERS) {
            range.count = (req[hl + 3] << 8) | req[hl + 4];
        } else if (function == MODBUS_FC_WRITE_SINGLE_REGISTER) {
            range.count = 1;
        }
        if (function == MODBUS_FC_READ_HOLDING_REGISTERS) {
            counters_.add("fc03");
        } else if (function == MODBUS_FC_WRITE_SINGLE_REGISTER) {
            counters_.add("fc06");
        } else if (function == MODBUS_FC_WRITE_MULTIPLE_REGISTERS) {
            counters_.add("fc16");
        } else {
            counters_.add("fc_other");
        }
        note_line_settings();

        if (unit == 0) {
            // Broadcast: applied, never answered on a serial line. TCP answers.
            counters_.add("broadcasts");
            write_counters();
            std::vector<std::uint8_t> frame = build_reply(req, len);
            if (o_.mode == LineMode::Tcp) send(out_fd, frame);
            log(range, "broadcast");
            return;
        }

        counters_.add("requests");
        const FaultDecision d = decide_fault(o_, ++request_number_, range);
        if (d.delay_ms > 0) counters_.add("faults_delay");
        switch (d.kind) {
            case ReplyKind::None:
                counters_.add("faults_no_reply");
                break;
            case ReplyKind::BadCrc:
                counters_.add("faults_bad_crc");
                break;
            case ReplyKind::Exception:
                counters_.add("faults_exception");
                break;
            case ReplyKind::WrongUnit:
                counters_.add("faults_wrong_unit");
                break;
            case ReplyKind::WrongProtocol:
                counters_.add("faults_wrong_protocol");
                break;
            case ReplyKind::WrongEcho:
                counters_.add("faults_wrong_echo");
                break;
            case ReplyKind::Normal:
                break;
        }
        if (d.kind != ReplyKind::None) counters_.add("replies");
        // Counted before answering: once a master has its reply, the file is current.
        write_counters();

        std::vector<std::uint8_t> frame;
        const char* what = "reply";
        switch (d.kind) {
            case ReplyKind::None:
                log(range, "no reply (fault)");
                return;
            case ReplyKind::Exception:
                frame = build_reply(req, len, d.exception_code);
                what = "exception (fault)";
                break;
            case ReplyKind::BadCrc:
                frame = build_reply(req, len);
                if (!frame.empty()) {
                    // RTU: the CRC's last byte. TCP has no CRC: the transaction id, so
                    // that the reply does not match its request.
                    const std::size_t at = o_.mode == LineMode::Tcp ? 1 : frame.size() - 1;
                    frame[at] = static_cast<std::uint8_t>(frame[at] ^ 0xA5);
                }
                what = "corrupted reply (fault)";
                break;
            case ReplyKind::WrongUnit:
            case ReplyKind::WrongProtocol:
            case ReplyKind::WrongEcho:
                frame = build_reply(req, len);
                what = mislabel(d.kind, hl, frame) ? "mislabelled reply (fault)" : "reply";
                break;
            case ReplyKind::Normal:
                if (d.delay_ms + o_.late_ms == 0 && queue_.empty()) {
                    modbus_reply(ctx, req, len, mapping_);
                    log(range, what);
                    return;
                }
                frame = build_reply(req, len);
                break;
        }
        if (frame.empty()) return;
        const int delay_ms = d.delay_ms + o_.late_ms;
        if (delay_ms == 0 && queue_.empty()) {
            send(out_fd, frame);
            log(range, what);
            return;
        }
        // Later requests keep arriving while a reply waits. On a serial line replies
        // leave in order, as one slave answers one request at a time.
        auto due = arrival + std::chrono::milliseconds(delay_ms);
        if (o_.mode != LineMode::Tcp && !queue_.empty() && due < queue_.back().due) {
            due = queue_.back().due;
        }
        queue_.push_back({due, out_fd, std::move(frame), range, what});
        if (o_.mode == LineMode::Tcp) {
            std::stable_sort(queue_.begin(), queue_.end(),
                             [](const Pending& a, const Pending& b) { return a.due < b.due; });
        }
    }

    // Changes a built reply as a fault asks; false when the fault does not apply.
    bool mislabel(ReplyKind kind, int hl, std::vector<std::uint8_t>& frame) {
        const bool tcp = o_.mode == LineMode::Tcp;
        if (frame.size() < static_cast<std::size_t>(hl) + 2) return false;
        switch (kind) {
            case ReplyKind::WrongUnit:
                frame[static_cast<std::size_t>(hl - 1)] =
                    static_cast<std::uint8_t>(o_.station % 247 + 1);
                break;
            case ReplyKind::WrongProtocol:
                if (!tcp) return false;
                frame[3] = 1;
                break;
            case ReplyKind::WrongEcho: {
                if (frame[static_cast<std::size_t>(hl)] != MODBUS_FC_WRITE_MULTIPLE_REGISTERS)
                    return false;
                const std::size_t at = static_cast<std::size_t>(hl) + 2;  // the address's low byte
                frame[at] = static_cast<std::uint8_t>(frame[at] + 1);
                if (frame[at] == 0) frame[at - 1] = static_cast<std::uint8_t>(frame[at - 1] + 1);
                break;
            }
            default:
                return false;
        }
        if (!tcp) reseal_crc(frame);
        return true;
    }

    // A new CRC over an RTU frame whose contents were changed.
    static void reseal_crc(std::vector<std::uint8_t>& frame) {
        std::uint16_t crc = 0xFFFF;
        for (std::size_t i = 0; i + 2 < frame.size(); ++i) {
            crc ^= frame[i];
            for (int bit = 0; bit < 8; ++bit) {
                crc = (crc & 1u) != 0 ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001u)
                                      : static_cast<std::uint16_t>(crc >> 1);
            }
        }
        frame[frame.size() - 2] = static_cast<std::uint8_t>(crc & 0xFF);
        frame[frame.size() - 1] = static_cast<std::uint8_t>(crc >> 8);
    }

    // Sends the replies that are due; returns the poll timeout until the next one.
    int send_due() {
        const auto now = Clock::now();
        while (!queue_.empty() && queue_.front().due <= now) {
            Pending p = std::move(queue_.front());
            queue_.pop_front();
            send(p.fd, p.frame);
            log(p.range, p.what);
        }
        if (queue_.empty()) return -1;
        const auto wait =
            std::chrono::duration_cast<std::chrono::milliseconds>(queue_.front().due - now);
        return static_cast<int>(wait.count()) + 1;
    }

    // A connection that closes takes its waiting replies with it.
    void forget(int fd) {
        std::erase_if(queue_, [fd](const Pending& p) { return p.fd == fd; });
    }

    void send(int fd, const std::vector<std::uint8_t>& frame) {
        std::size_t done = 0;
        while (done < frame.size()) {
            const ssize_t n = ::write(fd, frame.data() + done, frame.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return;
            done += static_cast<std::size_t>(n);
        }
    }

    void log(const RequestRange& r, const char* what) {
        if (!o_.verbose) return;
        std::fprintf(stderr, "benchslave: fc %02X start %d count %d: %s\n", r.function, r.start,
                     r.count, what);
    }

    int serve_rtu() {
        std::uint8_t req[MODBUS_RTU_MAX_ADU_LENGTH];
        for (;;) {
            pollfd p[2] = {{stop_fd_, POLLIN, 0}, {line_fd_, POLLIN, 0}};
            const int n = ::poll(p, 2, send_due());
            if (n == 0) continue;
            if (n < 0) {
                if (errno == EINTR) continue;
                return fail("poll");
            }
            if (p[0].revents != 0) return 0;
            if ((p[1].revents & POLLIN) == 0) {
                if ((p[1].revents & (POLLERR | POLLNVAL)) != 0) return fail("line");
                // A hang-up without data: nobody holds the other side. Wait a little.
                if (wait_or_stop(stop_fd_, 20)) return 0;
                continue;
            }
            const int rc = modbus_receive(rx_, req);
            if (rc > 0) {
                handle(rx_, line_fd_, req, rc);
            } else if (rc == 0) {
                counters_.add("ignored");
                write_counters();
                if (!make_rx(o_.mode == LineMode::Pty ? "pty" : o_.device.c_str())) return 1;
            } else {
                if (errno == EIO || errno == EBADF || errno == ENXIO) return fail("line lost");
                counters_.add("bad_frames");
                write_counters();
                modbus_flush(rx_);
            }
        }
    }

    int serve_tcp() {
        std::uint8_t req[MODBUS_TCP_MAX_ADU_LENGTH];
        for (;;) {
            std::vector<pollfd> p;
            p.push_back({stop_fd_, POLLIN, 0});
            p.push_back({listen_fd_, POLLIN, 0});
            for (int fd : clients_) p.push_back({fd, POLLIN, 0});
            const int n = ::poll(p.data(), p.size(), send_due());
            if (n == 0) continue;
            if (n < 0) {
                if (errno == EINTR) continue;
                return fail("poll");
            }
            if (p[0].revents != 0) return 0;
            if ((p[1].revents & POLLIN) != 0) {
                int s = listen_fd_;
                const int client = modbus_tcp_accept(rx_, &s);
                if (client >= 0) clients_.push_back(client);
            }
            for (std::size_t i = 2; i < p.size(); ++i) {
                if (p[i].revents == 0) continue;
                const int fd = p[i].fd;
                modbus_set_socket(rx_, fd);
                const int rc = modbus_receive(rx_, req);
                if (rc > 0) {
                    handle(rx_, fd, req, rc);
                    continue;
                }
                if (rc < 0 && errno != ECONNRESET) {
                    counters_.add("bad_frames");
                    write_counters();
                }
                // A closed or unsynchronised connection: drop it.
                forget(fd);
                ::close(fd);
                std::erase(clients_, fd);
            }
            modbus_set_socket(rx_, -1);
        }
    }

    using Clock = std::chrono::steady_clock;
    // A reply waiting for its time.
    struct Pending {
        Clock::time_point due;
        int fd;
        std::vector<std::uint8_t> frame;
        RequestRange range;
        const char* what;
    };

    const Options& o_;
    int stop_fd_;
    std::deque<Pending> queue_;
    Counters counters_;
    unsigned long request_number_ = 0;
    modbus_mapping_t* mapping_ = nullptr;
    modbus_t* rx_ = nullptr;
    modbus_t* device_ctx_ = nullptr;
    modbus_t* tcp_ctx_ = nullptr;
    modbus_t* shadow_ = nullptr;
    int shadow_pair_[2] = {-1, -1};
    int pty_master_ = -1;
    int pty_held_ = -1;
    int line_fd_ = -1;
    int settings_fd_ = -1;
    int listen_fd_ = -1;
    std::vector<int> clients_;
};

}  // namespace

int serve(const Options& options, int stop_fd) {
    Slave slave(options, stop_fd);
    return slave.run();
}

}  // namespace benchslave
