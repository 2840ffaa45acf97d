// One open port: a libmodbus context on a serial line or a TCP connection, and
// the state that keeps its replies in step with its requests.
#pragma once

#include <modbus.h>

#include <cstdint>
#include <memory>
#include <string>

#include "line.h"

namespace regwire {

class Port {
public:
    // Opens port `number` (its device from REGWIRE_PORT<number>, else
    // /dev/ttyS<number-1>). Arguments are already checked. On failure returns a
    // result code and leaves `out` empty.
    static int32_t open(int32_t number, int baud, char parity, std::unique_ptr<Port>& out);
    ~Port();
    Port(const Port&) = delete;
    Port& operator=(const Port&) = delete;

    // One request of function 03 (count <= 125) or 16 (count <= 123). Results are
    // REGWIRE_* codes. Station 0 (write only) is a broadcast: nobody answers it.
    int32_t read_registers(int station, int start, int count, uint16_t* dest);
    int32_t write_registers(int station, int start, int count, const uint16_t* src);

private:
    Port(int32_t number, modbus_t* ctx, bool tcp, Timing timing, bool trace);
    enum class Kind { Read, Write };
    // Exactly one of dest (read) and src (write) is given.
    int32_t exchange(int station, int start, int count, uint16_t* dest, const uint16_t* src);
    int32_t attempt(int station, int start, int count, uint16_t* dest, const uint16_t* src,
                    int& err);
    int32_t write_with_echo_check(int station, int start, int count, const uint16_t* src,
                                  int& err);
    bool line_hung_up_or_dirty();
    bool trailing_traffic(uint32_t wait_us);
    void drain(uint32_t quiet_us);
    void drop();
    void close_context();
    int fd() const;

    int32_t number_;
    modbus_t* ctx_;
    bool tcp_;
    Timing timing_;
    bool trace_;
    // A request failed without a clean reply (timeout, bad frame): a late reply may
    // still come, so the line is flushed and the next reply checked for followers.
    bool suspect_ = false;
    bool lost_ = false;
};

}  // namespace regwire
