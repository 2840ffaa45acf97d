// SPDX-License-Identifier: MIT
#include "regwire_library.h"

#include <dlfcn.h>

#include <cstdio>

namespace support {

namespace {

template <typename Fn>
bool bind(void* handle, const char* name, Fn& out, std::string& error) {
    void* symbol = ::dlsym(handle, name);
    if (symbol == nullptr) {
        error = std::string("libRegwire.so has no ") + name;
        return false;
    }
    out = reinterpret_cast<Fn>(symbol);
    return true;
}

}  // namespace

bool RegwireLibrary::load(std::string& error) {
    if (handle_ == nullptr) handle_ = ::dlopen("libRegwire.so", RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        const char* why = ::dlerror();
        error = why != nullptr ? why : "dlopen(libRegwire.so) failed";
        return false;
    }
    if (!bind(handle_, "OpenPort_Modbus", OpenPort_Modbus, error) ||
        !bind(handle_, "ClosePort_Modbus", ClosePort_Modbus, error) ||
        !bind(handle_, "Get_4X_DX", Get_4X_DX, error) ||
        !bind(handle_, "Set_4X_DX", Set_4X_DX, error) ||
        !bind(handle_, "Get_4X_LDX", Get_4X_LDX, error) ||
        !bind(handle_, "Set_4X_LDX", Set_4X_LDX, error) ||
        !bind(handle_, "Regwire_strerror", Regwire_strerror, error)) {
        return false;
    }
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(OpenPort_Modbus), &info) != 0 &&
        info.dli_fname != nullptr) {
        path_ = info.dli_fname;
    }
    return true;
}

bool load_or_report(const char* program, RegwireLibrary& library) {
    std::string error;
    if (library.load(error)) return true;
    std::fprintf(stderr, "%s: %s\n", program, error.c_str());
    return false;
}

}  // namespace support
