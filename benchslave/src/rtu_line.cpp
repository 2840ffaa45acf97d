// SPDX-License-Identifier: MIT
// The serial line: a pseudo-terminal of our own or a device opened by libmodbus.
// Frames end when a request of a function we know is whole, or when the line
// goes quiet for 3.5 character times.
#include <errno.h>
#include <fcntl.h>
#include <modbus.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "line.h"

namespace benchslave {

namespace {

long baud_of(speed_t speed) {
    static const std::pair<speed_t, long> table[] = {
        {B1200, 1200},     {B2400, 2400},     {B4800, 4800},     {B9600, 9600},
        {B19200, 19200},   {B38400, 38400},   {B57600, 57600},   {B115200, 115200},
        {B230400, 230400}, {B460800, 460800}, {B921600, 921600},
    };
    for (const auto& [code, baud] : table) {
        if (code == speed) return baud;
    }
    return -1;
}

void make_raw(int fd) {
    termios t{};
    if (::tcgetattr(fd, &t) != 0) return;
    ::cfmakeraw(&t);
    ::tcsetattr(fd, TCSANOW, &t);
}

class RtuLine {
  public:
    RtuLine(const Options& options, Slave& slave, int stop_fd)
        : o_(options), slave_(slave), stop_fd_(stop_fd) {}
    ~RtuLine();
    RtuLine(const RtuLine&) = delete;
    RtuLine& operator=(const RtuLine&) = delete;

    int run();

  private:
    bool open_pty(std::string& address);
    bool open_device(std::string& address);
    int serve();
    bool read_bytes(short revents, Clock::time_point now);
    void take_whole_frames(Clock::time_point now);
    void take_frame_after_silence(Clock::time_point now);
    void take_frame(const Bytes& raw, Clock::time_point now);
    void send_due(Clock::time_point now);
    int hang_up() const;
    long line_baud() const;
    void note_line_settings();
    bool at_served_speed() const;
    std::chrono::microseconds gap() const;

    const Options& o_;
    Slave& slave_;
    int stop_fd_;
    modbus_t* device_ = nullptr;
    int pty_master_ = -1;
    int pty_held_ = -1;
    int line_fd_ = -1;
    int settings_fd_ = -1;
    RtuFramer framer_;
    Clock::time_point last_byte_{};
    Outbox outbox_;
};

RtuLine::~RtuLine() {
    if (device_ != nullptr) {
        modbus_close(device_);
        modbus_free(device_);
    }
    for (int fd : {pty_master_, pty_held_}) {
        if (fd >= 0) ::close(fd);
    }
}

int RtuLine::run() {
    std::string address;
    const bool opened = o_.mode == LineMode::Pty ? open_pty(address) : open_device(address);
    if (!opened) return 1;
    make_nonblocking(line_fd_);
    announce(slave_, address);
    return serve();
}

// The line side: the pty master. The pts path is what a master opens. One
// descriptor of the pts stays open here, so that the master side never sees a
// hang-up between two sessions of a master, and so that the speed a master sets
// can be read.
bool RtuLine::open_pty(std::string& address) {
    pty_master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (pty_master_ < 0 || ::grantpt(pty_master_) != 0 || ::unlockpt(pty_master_) != 0) {
        return refused("posix_openpt");
    }
    const char* name = ::ptsname(pty_master_);
    if (name == nullptr) return refused("ptsname");
    address = name;
    pty_held_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (pty_held_ < 0) return refused("open " + address);
    make_raw(pty_held_);
    make_raw(pty_master_);
    line_fd_ = pty_master_;
    settings_fd_ = pty_held_;
    return true;
}

bool RtuLine::open_device(std::string& address) {
    device_ = modbus_new_rtu(o_.device.c_str(), o_.baud, o_.parity, 8, 1);
    if (device_ == nullptr || modbus_connect(device_) != 0) return refused(o_.device);
    address = o_.device;
    line_fd_ = modbus_get_socket(device_);
    settings_fd_ = line_fd_;
    return true;
}

int RtuLine::serve() {
    for (;;) {
        const auto before = Clock::now();
        std::optional<Clock::time_point> frame_end;
        if (!framer_.empty()) frame_end = last_byte_ + gap();
        pollfd p[2] = {{stop_fd_, POLLIN, 0}, {line_fd_, POLLIN, 0}};
        if (::poll(p, 2, timeout_ms(before, {outbox_.next(), frame_end})) < 0 && errno != EINTR) {
            return fail("poll");
        }
        if (p[0].revents != 0) return 0;
        const auto now = Clock::now();
        if (p[1].revents != 0 && !read_bytes(p[1].revents, now)) return hang_up();
        take_whole_frames(now);
        take_frame_after_silence(now);
        send_due(now);
    }
}

// Reads what the line has; false when it hung up (the other end went away, the
// adapter was pulled).
bool RtuLine::read_bytes(short revents, Clock::time_point now) {
    if ((revents & POLLIN) == 0) return (revents & (POLLHUP | POLLERR | POLLNVAL)) == 0;
    std::uint8_t chunk[512];
    const ssize_t n = ::read(line_fd_, chunk, sizeof chunk);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return true;
    if (n <= 0) return false;
    const Bytes bytes(chunk, chunk + n);
    if (o_.echo) {
        // A two-wire line whose receiver stays on: the master hears itself at once.
        send_all(line_fd_, bytes);
        slave_.count("echoed_bytes", n);
    }
    framer_.feed(bytes.data(), bytes.size());
    last_byte_ = now;
    return true;
}

void RtuLine::take_whole_frames(Clock::time_point now) {
    while (auto raw = framer_.take_whole()) take_frame(*raw, now);
}

void RtuLine::take_frame_after_silence(Clock::time_point now) {
    if (!framer_.empty() && now - last_byte_ >= gap()) take_frame(framer_.take_all(), now);
}

void RtuLine::take_frame(const Bytes& raw, Clock::time_point now) {
    note_line_settings();
    if (!at_served_speed()) {
        // A real line at another speed garbles the request: nothing to answer.
        slave_.record("wrong_speed");
        return;
    }
    const std::optional<Frame> frame = open_rtu(raw);
    if (!frame) {
        slave_.record("bad_frames");
        return;
    }
    if (auto out = slave_.on_frame(*frame, now)) post(outbox_, 0, *out, rtu_reply);
}

void RtuLine::send_due(Clock::time_point now) {
    while (auto p = outbox_.take_due(now)) send_all(line_fd_, p->bytes);
}

int RtuLine::hang_up() const {
    const std::string name = o_.mode == LineMode::Pty ? "the pseudo-terminal" : o_.device;
    std::fprintf(stderr, "benchslave: %s hung up\n", name.c_str());
    return 1;
}

long RtuLine::line_baud() const {
    termios t{};
    if (::tcgetattr(settings_fd_, &t) != 0) return -1;
    return baud_of(::cfgetospeed(&t));
}

void RtuLine::note_line_settings() {
    termios t{};
    if (::tcgetattr(settings_fd_, &t) != 0) return;
    slave_.set("line_baud", baud_of(::cfgetospeed(&t)));
    long parity = 0;
    if ((t.c_cflag & PARENB) != 0) parity = (t.c_cflag & PARODD) != 0 ? 1 : 2;
    slave_.set("line_parity", parity);
}

// On a pty given --baud, only requests sent at that speed are heard.
bool RtuLine::at_served_speed() const {
    return o_.mode != LineMode::Pty || !o_.baud_given || line_baud() == o_.baud;
}

// 3.5 characters of 11 bits at the line's speed; at least 2 ms, as a
// pseudo-terminal's writes are not paced.
std::chrono::microseconds RtuLine::gap() const {
    const long baud = line_baud();
    const long us = baud > 0 ? 3500L * 11L * 1000L / baud : 0;
    return std::chrono::microseconds(std::max(2000L, us));
}

}  // namespace

int serve_rtu(const Options& options, Slave& slave, int stop_fd) {
    RtuLine line(options, slave, stop_fd);
    return line.run();
}

}  // namespace benchslave
