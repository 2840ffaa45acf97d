// SPDX-License-Identifier: MIT
// One open port: the transport to its device, serialised calls, and the trace.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "transport.h"

namespace regwire {

class Port {
  public:
    // Opens port `number` (its device from REGWIRE_PORT<number>, else
    // /dev/ttyS<number-1>). Arguments are already checked. On failure returns a
    // result code, leaves `out` empty and notes the failure with its reason.
    static int32_t open(int32_t number, int baud, char parity, std::unique_ptr<Port>& out);
    // "port 6 (/dev/ttyS5)": the port with the device it names now.
    static std::string describe(int32_t number);
    // The same with the device it was opened on.
    std::string describe() const;
    ~Port();
    Port(const Port&) = delete;
    Port& operator=(const Port&) = delete;

    // One request of function 03 (count <= 125) or 16 (count <= 123). Results are
    // REGWIRE_* codes; a failure sets its reason (failure.h). Station 0 (write
    // only) is a broadcast: nobody answers it.
    int32_t read_registers(int station, int start, int count, uint16_t* dest);
    int32_t write_registers(int station, int start, int count, const uint16_t* src);

  private:
    Port(int32_t number, std::string device, std::unique_ptr<Transport> transport, bool trace);
    int32_t exchange(const Request& request);
    void drop();

    int32_t number_;
    std::string device_;
    std::unique_ptr<Transport> transport_;
    bool trace_;
    bool lost_ = false;
};

}  // namespace regwire
