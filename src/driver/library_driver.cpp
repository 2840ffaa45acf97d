#include "driver/library_driver.h"

#include <dlfcn.h>

#include <utility>

#include "regwire.h"

namespace bench {
namespace {

using OpenFn = decltype(&::OpenPort_Modbus);
using CloseFn = decltype(&::ClosePort_Modbus);
using TransferFn = decltype(&::Get_4X_DX);
static_assert(std::is_same_v<TransferFn, decltype(&::Set_4X_DX)>);
static_assert(std::is_same_v<TransferFn, decltype(&::Get_4X_LDX)>);
static_assert(std::is_same_v<TransferFn, decltype(&::Set_4X_LDX)>);

std::string lastDlError(const std::string& fallback) {
    const char* e = dlerror();
    return e != nullptr ? std::string(e) : fallback;
}

template <typename Fn, typename... Args>
DriverCall call(void* address, std::string failure, Args... args) {
    DriverCall outcome;
    if (address == nullptr) {
        outcome.failure = std::move(failure);
        return outcome;
    }
    outcome.reached = true;
    outcome.result = reinterpret_cast<Fn>(address)(args...);
    return outcome;
}

}  // namespace

LibraryDriver::LibraryDriver(std::string fileName) : fileName_(std::move(fileName)) {}

LibraryDriver::~LibraryDriver() {
    // The library stays loaded until the process ends: a port it holds open
    // must not be torn down behind the driver's back.
}

void* LibraryDriver::bind(const char* name, void*& slot, std::string& failure) {
    if (slot != nullptr) return slot;
    if (library_ == nullptr) {
        dlerror();
        library_ = dlopen(fileName_.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (library_ == nullptr) {
            failure = lastDlError(fileName_ + ": cannot be loaded");
            return nullptr;
        }
    }
    dlerror();
    slot = dlsym(library_, name);
    if (slot == nullptr) failure = lastDlError(fileName_ + ": no function " + name);
    return slot;
}

DriverCall LibraryDriver::OpenPort_Modbus(int32_t port, int32_t speed, int32_t parity) {
    std::string failure;
    void* f = bind("OpenPort_Modbus", open_, failure);
    return call<OpenFn>(f, failure, port, speed, parity);
}

DriverCall LibraryDriver::ClosePort_Modbus(int32_t port) {
    std::string failure;
    void* f = bind("ClosePort_Modbus", close_, failure);
    return call<CloseFn>(f, failure, port);
}

DriverCall LibraryDriver::Get_4X_DX(int32_t port, int32_t station, int32_t start, int32_t count,
                                    int32_t* buffer) {
    std::string failure;
    void* f = bind("Get_4X_DX", get16_, failure);
    return call<TransferFn>(f, failure, port, station, start, count, buffer);
}

DriverCall LibraryDriver::Set_4X_DX(int32_t port, int32_t station, int32_t start, int32_t count,
                                    int32_t* buffer) {
    std::string failure;
    void* f = bind("Set_4X_DX", set16_, failure);
    return call<TransferFn>(f, failure, port, station, start, count, buffer);
}

DriverCall LibraryDriver::Get_4X_LDX(int32_t port, int32_t station, int32_t start, int32_t count,
                                     int32_t* buffer) {
    std::string failure;
    void* f = bind("Get_4X_LDX", get32_, failure);
    return call<TransferFn>(f, failure, port, station, start, count, buffer);
}

DriverCall LibraryDriver::Set_4X_LDX(int32_t port, int32_t station, int32_t start, int32_t count,
                                     int32_t* buffer) {
    std::string failure;
    void* f = bind("Set_4X_LDX", set32_, failure);
    return call<TransferFn>(f, failure, port, station, start, count, buffer);
}

}  // namespace bench
