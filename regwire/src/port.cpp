#include "port.h"

#include <errno.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>

#include "port_map.h"
#include "regwire.h"
#include "trace.h"

namespace regwire {

namespace {

constexpr int kAttempts = 3;             // exchanges per request while stale replies show up
constexpr uint32_t kOpenSettleUs = 5000;  // lets the open glitch arrive before the flush
constexpr uint32_t kTcpConnectUs = 2000000;

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

int32_t result_for_errno(int err) {
    if (err == ETIMEDOUT) return REGWIRE_ETIMEOUT;
    if (err > MODBUS_ENOBASE && err < MODBUS_ENOBASE + MODBUS_EXCEPTION_MAX) {
        return REGWIRE_EXCEPTION_BASE - (err - MODBUS_ENOBASE);
    }
    switch (err) {
        case EMBBADCRC:
        case EMBBADDATA:
        case EMBBADEXC:
        case EMBUNKEXC:
        case EMBBADSLAVE:
            return REGWIRE_ECRC;
        default:
            return is_lost_errno(err) ? REGWIRE_ELOST : REGWIRE_EIO;
    }
}

void set_timeout(modbus_t* ctx, uint32_t us, bool response) {
    const uint32_t sec = us / 1000000u;
    const uint32_t usec = us % 1000000u;
    if (response) {
        modbus_set_response_timeout(ctx, sec, usec);
    } else {
        modbus_set_byte_timeout(ctx, sec, usec);
    }
}

uint32_t env_turnaround_us() {
    const char* text = std::getenv("REGWIRE_TURNAROUND_MS");
    if (text == nullptr || *text == '\0') return 100000;
    char* end = nullptr;
    const long ms = std::strtol(text, &end, 10);
    if (*end != '\0' || ms < 0 || ms > 60000) return 100000;
    return static_cast<uint32_t>(ms) * 1000u;
}

bool env_trace() {
    const char* text = std::getenv("REGWIRE_TRACE");
    return text != nullptr && *text != '\0' && std::string(text) != "0";
}

std::string device_for(int32_t number) {
    const PortMapping mapping = resolve_port(number);
    if (env_trace()) trace_mapping(number, mapping);
    return mapping.device;
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

int32_t Port::open(int32_t number, int baud, char parity, std::unique_ptr<Port>& out) {
    const std::string device = device_for(number);
    const bool tcp = device.rfind("tcp:", 0) == 0;
    Timing timing;
    timing.baud = tcp ? 0 : baud;
    timing.turnaround_us = env_turnaround_us();

    modbus_t* ctx = nullptr;
    if (tcp) {
        std::string host;
        std::string service;
        if (!split_tcp(device, host, service)) return REGWIRE_EOPEN;
        ctx = modbus_new_tcp_pi(host.c_str(), service.c_str());
    } else {
        ctx = modbus_new_rtu(device.c_str(), baud, parity, 8, 1);
    }
    if (ctx == nullptr) return REGWIRE_EOPEN;
    // Recovery would make libmodbus sleep, reconnect and resend behind our back.
    modbus_set_error_recovery(ctx, MODBUS_ERROR_RECOVERY_NONE);
    set_timeout(ctx, kTcpConnectUs, true);
    if (modbus_connect(ctx) != 0) {
        modbus_free(ctx);
        return REGWIRE_EOPEN;
    }
    if (!tcp) {
        const int fd = modbus_get_socket(ctx);
        // Exclusive use of the line: TIOCEXCL stops later opens by other programs
        // (root excepted), the lock stops another Regwire user, root or not.
        if (::ioctl(fd, TIOCEXCL) != 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            modbus_close(ctx);
            modbus_free(ctx);
            return REGWIRE_EOPEN;
        }
        // Opening a line can put a glitch on it; let it arrive, then drop it.
        timespec pause{0, static_cast<long>(kOpenSettleUs) * 1000L};
        ::nanosleep(&pause, nullptr);
        modbus_flush(ctx);
    }
    out.reset(new Port(number, ctx, tcp, timing, env_trace()));
    return REGWIRE_OK;
}

Port::Port(int32_t number, modbus_t* ctx, bool tcp, Timing timing, bool trace)
    : number_(number), ctx_(ctx), tcp_(tcp), timing_(timing), trace_(trace) {
    set_timeout(ctx_, timing_.byte_timeout_us(), false);
}

Port::~Port() { close_context(); }

void Port::close_context() {
    if (ctx_ == nullptr) return;
    if (!tcp_ && !lost_) {
        // Clear the exclusive flag: another process (a simulator) may keep the
        // terminal open, and the flag would outlive us and lock everyone else out.
        ::ioctl(fd(), TIOCNXCL);
    }
    modbus_close(ctx_);
    modbus_free(ctx_);
    ctx_ = nullptr;
}

int Port::fd() const { return modbus_get_socket(ctx_); }

void Port::drop() {
    lost_ = true;
    close_context();
}

// Before a request: a hang-up means the device is gone; bytes nobody asked for
// (a late reply, noise) are dropped so they cannot pass for the coming reply.
bool Port::line_hung_up_or_dirty() {
    if (!tcp_) {
        // FIONREAD rather than poll(): a terminal's poll() first waits for the
        // terminal's input work to finish, which cost a wake-up of another CPU on
        // every request (round trips on a pty 3 to 4 times those of plain
        // libmodbus). A hung-up terminal refuses the ioctl with EIO.
        int waiting = 0;
        if (::ioctl(fd(), FIONREAD, &waiting) != 0) return is_lost_errno(errno);
        if (waiting > 0) modbus_flush(ctx_);
        return false;
    }
    pollfd p{fd(), POLLIN, 0};
    if (::poll(&p, 1, 0) < 0) return false;
    if ((p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) return true;
    if ((p.revents & POLLIN) != 0) {
        modbus_flush(ctx_);
        if (tcp_) {
            // A TCP peer that closed leaves the socket readable at end of file.
            pollfd again{fd(), POLLIN | POLLRDHUP, 0};
            if (::poll(&again, 1, 0) > 0 && (again.revents & (POLLRDHUP | POLLHUP)) != 0) {
                return true;
            }
        }
    }
    return false;
}

bool Port::trailing_traffic(uint32_t wait_us) {
    pollfd p{fd(), POLLIN, 0};
    const int ms = static_cast<int>((wait_us + 999u) / 1000u);
    return ::poll(&p, 1, ms) > 0 && (p.revents & POLLIN) != 0;
}

void Port::drain(uint32_t quiet_us) {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    do {
        modbus_flush(ctx_);
    } while (trailing_traffic(quiet_us) && std::chrono::steady_clock::now() < give_up);
    modbus_flush(ctx_);
}

int32_t Port::attempt(int station, int start, int count, uint16_t* dest, const uint16_t* src,
                      int& err) {
    if (dest == nullptr && !tcp_ && station != 0) {
        return write_with_echo_check(station, start, count, src, err);
    }
    const int rc = dest != nullptr ? modbus_read_registers(ctx_, start, count, dest)
                                   : modbus_write_registers(ctx_, start, count, src);
    err = errno;  // before anything else can change it
    if (rc == count) return REGWIRE_OK;
    return result_for_errno(err);
}

// libmodbus accepts a function 16 reply whose quantity matches, whatever address
// it echoes, so on a serial line the echo of a write to another address (a late
// reply, or a slave answering something else) passed for success although this
// write may never have been carried out. The request therefore goes out as a raw
// request, which libmodbus frames (station byte, CRC), and the whole echo is
// compared with it. TCP keeps modbus_write_registers: there the transaction id
// ties a reply to its request, and a raw request would not carry one.
int32_t Port::write_with_echo_check(int station, int start, int count, const uint16_t* src,
                                    int& err) {
    uint8_t req[7 + 2 * MODBUS_MAX_WRITE_REGISTERS];
    req[0] = static_cast<uint8_t>(station);
    req[1] = MODBUS_FC_WRITE_MULTIPLE_REGISTERS;
    req[2] = static_cast<uint8_t>(start >> 8);
    req[3] = static_cast<uint8_t>(start & 0xFF);
    req[4] = static_cast<uint8_t>(count >> 8);
    req[5] = static_cast<uint8_t>(count & 0xFF);
    req[6] = static_cast<uint8_t>(2 * count);
    for (int i = 0; i < count; ++i) {
        req[7 + 2 * i] = static_cast<uint8_t>(src[i] >> 8);
        req[8 + 2 * i] = static_cast<uint8_t>(src[i] & 0xFF);
    }
    if (modbus_send_raw_request(ctx_, req, 7 + 2 * count) < 0) {
        err = errno;
        return result_for_errno(err);
    }
    uint8_t rsp[MODBUS_RTU_MAX_ADU_LENGTH];
    const int rc = modbus_receive_confirmation(ctx_, rsp);
    err = errno;
    if (rc < 0) return result_for_errno(err);
    // 0: a frame of another station, which libmodbus does not check further.
    if (rc == 0 || rsp[0] != req[0]) return REGWIRE_ECRC;
    if (rsp[1] == (MODBUS_FC_WRITE_MULTIPLE_REGISTERS | 0x80) && rc == 5) {
        // Mapped as libmodbus maps the exceptions of its own requests.
        err = rsp[2] < MODBUS_EXCEPTION_MAX ? MODBUS_ENOBASE + rsp[2] : EMBBADEXC;
        return result_for_errno(err);
    }
    // Station, function, address and quantity, then the CRC.
    if (rc == 8 && std::memcmp(rsp, req, 6) == 0) return REGWIRE_OK;
    return REGWIRE_ECRC;
}

int32_t Port::exchange(int station, int start, int count, uint16_t* dest, const uint16_t* src) {
    const Kind kind = dest != nullptr ? Kind::Read : Kind::Write;
    if (lost_ || ctx_ == nullptr) return REGWIRE_ELOST;
    if (line_hung_up_or_dirty()) {
        drop();
        return REGWIRE_ELOST;
    }
    modbus_set_slave(ctx_, station);
    const bool broadcast = station == 0;
    const int request_bytes =
        kind == Kind::Read ? read_request_bytes() : write_request_bytes(count);
    const int reply_bytes = kind == Kind::Read ? read_reply_bytes(count) : write_reply_bytes();
    // A broadcast has no reply; the wait lets the slaves act on it before the
    // next request.
    const uint32_t timeout_us = broadcast && !tcp_
                                    ? timing_.wire_us(request_bytes) + timing_.turnaround_us
                                    : timing_.response_timeout_us(request_bytes, reply_bytes);

    TraceRecord record;
    record.port = number_;
    record.station = station;
    record.function = kind == Kind::Read ? MODBUS_FC_READ_HOLDING_REGISTERS
                                         : MODBUS_FC_WRITE_MULTIPLE_REGISTERS;
    record.start = start;
    record.count = count;
    record.timeout_us = timeout_us;

    int32_t result = REGWIRE_EIO;
    for (int i = 0; i < kAttempts; ++i) {
        if (suspect_) modbus_flush(ctx_);
        set_timeout(ctx_, timeout_us, true);
        const auto began = std::chrono::steady_clock::now();
        int err = 0;
        result = attempt(station, start, count, dest, src, err);
        record.elapsed_ms = std::chrono::duration<double, std::milli>(
                                std::chrono::steady_clock::now() - began)
                                .count();

        if (result == REGWIRE_ELOST) {
            drop();
        } else if (broadcast) {
            // Only a failure to send counts; what comes back (nothing, normally) is
            // not a slave's answer.
            if (result != REGWIRE_EIO) {
                suspect_ = suspect_ || result != REGWIRE_OK;
                result = REGWIRE_OK;
            }
            if (!tcp_) modbus_flush(ctx_);
        } else if (result == REGWIRE_OK || REGWIRE_IS_EXCEPTION(result)) {
            // After a failed exchange, a reply may have been the late one of an
            // earlier request: the real one would then follow it at once.
            if (suspect_ && !tcp_ &&
                trailing_traffic(timing_.wire_us(reply_bytes) + timing_.turnaround_us)) {
                drain(timing_.byte_timeout_us() + timing_.turnaround_us);
                record.retried = true;
                result = REGWIRE_EIO;
                if (trace_) {
                    record.result = REGWIRE_EIO;
                    trace_request(record);
                }
                continue;
            }
            suspect_ = false;
        } else {
            suspect_ = true;
        }
        break;
    }
    if (trace_) {
        record.result = result;
        record.registers = kind == Kind::Write ? src : (result == REGWIRE_OK ? dest : nullptr);
        trace_request(record);
    }
    return result;
}

int32_t Port::read_registers(int station, int start, int count, uint16_t* dest) {
    return exchange(station, start, count, dest, nullptr);
}

int32_t Port::write_registers(int station, int start, int count, const uint16_t* src) {
    return exchange(station, start, count, nullptr, src);
}

}  // namespace regwire
