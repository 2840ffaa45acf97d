// SPDX-License-Identifier: MIT
#include "driver/library_driver.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <cstddef>
#include <utility>
#include <vector>

#include "regwire.h"

namespace bench {
namespace {

using OpenFn = decltype(&::OpenPort_Modbus);
using CloseFn = decltype(&::ClosePort_Modbus);
using ReadFn = decltype(&::Get_4X_DX);
using WriteFn = decltype(&::Set_4X_DX);
using LastFailureFn = decltype(&::Regwire_lastfailure);
static_assert(std::is_same_v<ReadFn, decltype(&::Get_4X_LDX)>);
static_assert(std::is_same_v<WriteFn, decltype(&::Set_4X_LDX)>);

std::string lastDlError(const std::string& fallback) {
    const char* e = dlerror();
    return e != nullptr ? std::string(e) : fallback;
}

// The directories the loader searches for the program itself, in its order:
// LD_LIBRARY_PATH, the program's RUNPATH, the system's directories.
std::vector<std::string> programSearchPath() {
    std::vector<std::string> dirs;
    void* program = dlopen(nullptr, RTLD_NOW);
    Dl_serinfo size{};
    if (program == nullptr || dlinfo(program, RTLD_DI_SERINFOSIZE, &size) != 0) return dirs;
    std::vector<std::max_align_t> storage(size.dls_size / sizeof(std::max_align_t) + 1);
    auto* info = reinterpret_cast<Dl_serinfo*>(storage.data());
    if (dlinfo(program, RTLD_DI_SERINFOSIZE, info) != 0 ||
        dlinfo(program, RTLD_DI_SERINFO, info) != 0) {
        return dirs;
    }
    for (unsigned i = 0; i < info->dls_cnt; ++i) dirs.emplace_back(info->dls_serpath[i].dls_name);
    return dirs;
}

// dlopen by file name. When something interposes dlopen (a sanitizer runtime, a
// preloaded tracer), glibc sees the interposer as the caller and searches its
// RUNPATH instead of the program's; then the program's own search path is walked.
void* openByName(const std::string& fileName, std::string& failure) {
    dlerror();
    void* library = dlopen(fileName.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library != nullptr) return library;
    failure = lastDlError(fileName + ": cannot be loaded");
    if (fileName.find('/') != std::string::npos) return nullptr;
    for (const std::string& dir : programSearchPath()) {
        const std::string path = dir + "/" + fileName;
        if (access(path.c_str(), F_OK) != 0) continue;
        library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (library != nullptr) return library;
        failure = lastDlError(path + ": cannot be loaded");
    }
    return nullptr;
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
        library_ = openByName(fileName_, failure);
        if (library_ == nullptr) return nullptr;
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

DriverCall LibraryDriver::transfer(const char* name, void*& slot, bool write, int32_t port,
                                   int32_t station, int32_t start, int32_t count, int32_t* buffer) {
    std::string failure;
    void* f = bind(name, slot, failure);
    if (write) {
        return call<WriteFn>(f, failure, port, station, start, count,
                             static_cast<const int32_t*>(buffer));
    }
    return call<ReadFn>(f, failure, port, station, start, count, buffer);
}

DriverCall LibraryDriver::Get_4X_DX(int32_t port, int32_t station, int32_t start, int32_t count,
                                    int32_t* buffer) {
    return transfer("Get_4X_DX", get16_, false, port, station, start, count, buffer);
}

DriverCall LibraryDriver::Set_4X_DX(int32_t port, int32_t station, int32_t start, int32_t count,
                                    int32_t* buffer) {
    return transfer("Set_4X_DX", set16_, true, port, station, start, count, buffer);
}

DriverCall LibraryDriver::Get_4X_LDX(int32_t port, int32_t station, int32_t start, int32_t count,
                                     int32_t* buffer) {
    return transfer("Get_4X_LDX", get32_, false, port, station, start, count, buffer);
}

DriverCall LibraryDriver::Set_4X_LDX(int32_t port, int32_t station, int32_t start, int32_t count,
                                     int32_t* buffer) {
    return transfer("Set_4X_LDX", set32_, true, port, station, start, count, buffer);
}

std::string LibraryDriver::Regwire_lastfailure(int32_t port) {
    std::string failure;
    auto* f = reinterpret_cast<LastFailureFn>(bind("Regwire_lastfailure", lastFailure_, failure));
    if (f == nullptr) return {};
    std::string text(256, '\0');
    // Once more with room for all of it when it was cut.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int32_t size = static_cast<int32_t>(text.size());
        const int32_t length = f(port, text.data(), size);
        if (length < 0) return {};
        if (length < size) {
            text.resize(static_cast<std::size_t>(length));
            return text;
        }
        text.assign(static_cast<std::size_t>(length) + 1, '\0');
    }
    return text.substr(0, text.find('\0'));
}

}  // namespace bench
