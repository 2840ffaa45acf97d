// SPDX-License-Identifier: MIT
// One open port: the transport to its device, serialised calls, and the trace.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>

#include "transport.h"

namespace regwire {

class Port {
  public:
    // Opens port `number` (its device from the environment, the map files, else
    // /dev/ttyS<number-1>: port_map.h). Arguments are already checked. On failure
    // returns a result code, leaves `out` empty and notes the failure with its
    // reason.
    static int32_t open(int32_t number, int baud, char parity, std::unique_ptr<Port>& out);
    // "port 6 (/dev/ttyS5)": the port with the device it names now.
    static std::string describe(int32_t number);
    // The same with the device it was opened on.
    std::string describe() const;
    ~Port();
    Port(const Port&) = delete;
    Port& operator=(const Port&) = delete;

    // One request of function 03 (count <= 125) or 16 (count <= 123): a REGWIRE_*
    // code and, on failure, its reason. Station 0 (write only) is a broadcast:
    // nobody answers it. A one-register write that a station refused as an
    // illegal function goes again as function 06, as it does from then on.
    Outcome read_registers(int station, int start, int count, uint16_t* dest);
    Outcome write_registers(int station, int start, int count, const uint16_t* src);

  private:
    Port(int32_t number, std::string device, std::unique_ptr<Transport> transport, bool trace);
    Outcome exchange(const Request& request);
    void drop();

    int32_t number_;
    std::string device_;
    std::unique_ptr<Transport> transport_;
    bool trace_;
    bool lost_ = false;
    std::set<int> single_writes_;  // stations that take a one-register write only as function 06
};

}  // namespace regwire
