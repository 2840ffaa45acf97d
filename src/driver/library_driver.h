// SPDX-License-Identifier: MIT
// Binds the driver functions in a shared library found by file name through the
// ordinary library search: LD_LIBRARY_PATH first, then the program's RUNPATH.
// dlopen is called from this code, which is linked into the program itself, so the
// program's RUNPATH (not Qt's) is searched. Each function is bound at its first
// call and stays bound; a failed binding is tried again at the next call.
#pragma once

#include <string>

#include "driver/driver.h"

namespace bench {

inline constexpr const char* kDriverLibrary = "libRegwire.so";

class LibraryDriver final : public Driver {
  public:
    explicit LibraryDriver(std::string fileName = kDriverLibrary);
    ~LibraryDriver() override;
    LibraryDriver(const LibraryDriver&) = delete;
    LibraryDriver& operator=(const LibraryDriver&) = delete;

    DriverCall OpenPort_Modbus(int32_t port, int32_t speed, int32_t parity) override;
    DriverCall ClosePort_Modbus(int32_t port) override;
    DriverCall Get_4X_DX(int32_t port, int32_t station, int32_t start, int32_t count,
                         int32_t* buffer) override;
    DriverCall Set_4X_DX(int32_t port, int32_t station, int32_t start, int32_t count,
                         int32_t* buffer) override;
    DriverCall Get_4X_LDX(int32_t port, int32_t station, int32_t start, int32_t count,
                          int32_t* buffer) override;
    DriverCall Set_4X_LDX(int32_t port, int32_t station, int32_t start, int32_t count,
                          int32_t* buffer) override;
    // Empty also when the library lacks the function: it is optional.
    std::string Regwire_lastfailure(int32_t port) override;

  private:
    // Address of `name`, binding the library first if needed; null with `failure` set.
    void* bind(const char* name, void*& slot, std::string& failure);
    // One of the four transfer functions; the writes take a const buffer.
    DriverCall transfer(const char* name, void*& slot, bool write, int32_t port, int32_t station,
                        int32_t start, int32_t count, int32_t* buffer);

    std::string fileName_;
    void* library_ = nullptr;
    void* open_ = nullptr;
    void* close_ = nullptr;
    void* get16_ = nullptr;
    void* set16_ = nullptr;
    void* get32_ = nullptr;
    void* set32_ = nullptr;
    void* lastFailure_ = nullptr;
};

}  // namespace bench
