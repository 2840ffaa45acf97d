// SPDX-License-Identifier: MIT
// The driver functions as the window calls them. The window talks to this
// interface only; the program binds it to libRegwire.so by name (LibraryDriver),
// and tests load a recording stand-in library of the same name in its place.
#pragma once

#include <cstdint>
#include <string>

namespace bench {

// The outcome of one driver call. `reached` is false when the library or the
// function could not be bound: then nothing was called and `failure` says why.
struct DriverCall {
    bool reached = false;
    int32_t result = 0;
    std::string failure;
};

class Driver {
  public:
    virtual ~Driver() = default;

    virtual DriverCall OpenPort_Modbus(int32_t port, int32_t speed, int32_t parity) = 0;
    virtual DriverCall ClosePort_Modbus(int32_t port) = 0;
    virtual DriverCall Get_4X_DX(int32_t port, int32_t station, int32_t start, int32_t count,
                                 int32_t* buffer) = 0;
    virtual DriverCall Set_4X_DX(int32_t port, int32_t station, int32_t start, int32_t count,
                                 int32_t* buffer) = 0;
    virtual DriverCall Get_4X_LDX(int32_t port, int32_t station, int32_t start, int32_t count,
                                  int32_t* buffer) = 0;
    virtual DriverCall Set_4X_LDX(int32_t port, int32_t station, int32_t start, int32_t count,
                                  int32_t* buffer) = 0;

    // The library's own account of the last failure on `port` (device, OS reason,
    // which request); empty when it has none or cannot give one.
    virtual std::string Regwire_lastfailure(int32_t port) = 0;
};

}  // namespace bench
