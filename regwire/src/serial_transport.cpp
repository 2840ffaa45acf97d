// Modbus RTU on a serial line. A function 03 reply carries no address, so a
// late reply can pass for the next request's: the line is cleaned before each
// request, and after a failed exchange a reply is watched for followers.
#include <errno.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

#include "regwire.h"
#include "transport.h"

namespace regwire {

namespace {

constexpr int kAttempts = 3;              // exchanges per request while stale replies show up
constexpr uint32_t kOpenSettleUs = 5000;  // lets the open glitch arrive before the flush

class SerialTransport final : public Transport {
  public:
    SerialTransport(modbus_t* ctx, Timing timing) : Transport(ctx, timing) {
        set_timeout(ctx_, timing_.byte_timeout_us(), false);
    }

    bool hung_up_or_dirty() override;
    int32_t transfer(const Request& request, TraceRecord& record, bool trace) override;

  private:
    void before_close() override {
        // Clear the exclusive flag: another process (a simulator) may keep the
        // terminal open, and the flag would outlive us and lock everyone else out.
        ::ioctl(fd(), TIOCNXCL);
    }
    int32_t attempt(const Request& r, int& err);
    int32_t write_with_echo_check(const Request& r, int& err);
    bool trailing_traffic(uint32_t wait_us);
    void drain(uint32_t quiet_us);

    // A request failed without a clean reply (timeout, bad frame): a late reply may
    // still come, so the line is flushed and the next reply checked for followers.
    bool suspect_ = false;
};

// FIONREAD rather than poll(): a terminal's poll() first waits for the
// terminal's input work to finish, which cost a wake-up of another CPU on every
// request (round trips on a pty 3 to 4 times those of plain libmodbus). A
// hung-up terminal refuses the ioctl with EIO.
bool SerialTransport::hung_up_or_dirty() {
    int waiting = 0;
    if (::ioctl(fd(), FIONREAD, &waiting) != 0) return is_lost_errno(errno);
    if (waiting > 0) modbus_flush(ctx_);
    return false;
}

bool SerialTransport::trailing_traffic(uint32_t wait_us) {
    pollfd p{fd(), POLLIN, 0};
    const int ms = static_cast<int>((wait_us + 999u) / 1000u);
    return ::poll(&p, 1, ms) > 0 && (p.revents & POLLIN) != 0;
}

void SerialTransport::drain(uint32_t quiet_us) {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    do {
        modbus_flush(ctx_);
    } while (trailing_traffic(quiet_us) && std::chrono::steady_clock::now() < give_up);
    modbus_flush(ctx_);
}

int32_t SerialTransport::attempt(const Request& r, int& err) {
    if (!r.read() && !r.broadcast()) return write_with_echo_check(r, err);
    const int rc = r.read() ? modbus_read_registers(ctx_, r.start, r.count, r.dest)
                            : modbus_write_registers(ctx_, r.start, r.count, r.src);
    err = errno;  // before anything else can change it
    if (rc == r.count) return REGWIRE_OK;
    return result_for_errno(err);
}

// libmodbus accepts a function 16 reply whose quantity matches, whatever address
// it echoes, so the echo of a write to another address (a late reply, or a slave
// answering something else) passed for success although this write may never
// have been carried out. The request therefore goes out as a raw request, which
// libmodbus frames (station byte, CRC), and the whole echo is compared with it.
int32_t SerialTransport::write_with_echo_check(const Request& r, int& err) {
    uint8_t req[7 + 2 * MODBUS_MAX_WRITE_REGISTERS];
    req[0] = static_cast<uint8_t>(r.station);
    req[1] = MODBUS_FC_WRITE_MULTIPLE_REGISTERS;
    req[2] = static_cast<uint8_t>(r.start >> 8);
    req[3] = static_cast<uint8_t>(r.start & 0xFF);
    req[4] = static_cast<uint8_t>(r.count >> 8);
    req[5] = static_cast<uint8_t>(r.count & 0xFF);
    req[6] = static_cast<uint8_t>(2 * r.count);
    for (int i = 0; i < r.count; ++i) {
        req[7 + 2 * i] = static_cast<uint8_t>(r.src[i] >> 8);
        req[8 + 2 * i] = static_cast<uint8_t>(r.src[i] & 0xFF);
    }
    if (modbus_send_raw_request(ctx_, req, 7 + 2 * r.count) < 0) {
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

int32_t SerialTransport::transfer(const Request& r, TraceRecord& record, bool trace) {
    modbus_set_slave(ctx_, r.station);
    const int request_bytes = r.read() ? read_request_bytes() : write_request_bytes(r.count);
    const int reply_bytes = r.read() ? read_reply_bytes(r.count) : write_reply_bytes();
    // A broadcast has no reply; the wait lets the slaves act on it before the
    // next request.
    const uint32_t timeout_us = r.broadcast()
                                    ? timing_.wire_us(request_bytes) + timing_.turnaround_us
                                    : timing_.response_timeout_us(request_bytes, reply_bytes);
    record.timeout_us = timeout_us;

    int32_t result = REGWIRE_EIO;
    for (int i = 0; i < kAttempts; ++i) {
        if (suspect_) modbus_flush(ctx_);
        set_timeout(ctx_, timeout_us, true);
        const auto began = std::chrono::steady_clock::now();
        int err = 0;
        result = attempt(r, err);
        record.elapsed_ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - began)
                .count();

        if (result == REGWIRE_ELOST) {
            // The caller drops the device.
        } else if (r.broadcast()) {
            // Only a failure to send counts; what comes back (nothing, normally) is
            // not a slave's answer.
            if (result != REGWIRE_EIO) {
                suspect_ = suspect_ || result != REGWIRE_OK;
                result = REGWIRE_OK;
            }
            modbus_flush(ctx_);
        } else if (result == REGWIRE_OK || REGWIRE_IS_EXCEPTION(result)) {
            // After a failed exchange, a reply may have been the late one of an
            // earlier request: the real one would then follow it at once.
            if (suspect_ &&
                trailing_traffic(timing_.wire_us(reply_bytes) + timing_.turnaround_us)) {
                drain(timing_.byte_timeout_us() + timing_.turnaround_us);
                record.retried = true;
                result = REGWIRE_EIO;
                if (trace) {
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
    return result;
}

}  // namespace

int32_t open_serial_transport(const std::string& device, int baud, char parity, Timing timing,
                              std::unique_ptr<Transport>& out) {
    modbus_t* ctx = connect_context(modbus_new_rtu(device.c_str(), baud, parity, 8, 1));
    if (ctx == nullptr) return REGWIRE_EOPEN;
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
    out = std::make_unique<SerialTransport>(ctx, timing);
    return REGWIRE_OK;
}

}  // namespace regwire
