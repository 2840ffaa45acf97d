// SPDX-License-Identifier: MIT
// libRegwire.so bound by name at run time, as the programs bind it: dlopen of
// "libRegwire.so" searches LD_LIBRARY_PATH, then the RUNPATH of the caller
// ($ORIGIN/../lib, the build's lib folder). The functions keep the types
// regwire.h declares.
#pragma once

#include <string>

#include "regwire.h"

namespace support {

struct RegwireLibrary {
    decltype(&::OpenPort_Modbus) OpenPort_Modbus = nullptr;
    decltype(&::ClosePort_Modbus) ClosePort_Modbus = nullptr;
    decltype(&::Get_4X_DX) Get_4X_DX = nullptr;
    decltype(&::Set_4X_DX) Set_4X_DX = nullptr;
    decltype(&::Get_4X_LDX) Get_4X_LDX = nullptr;
    decltype(&::Set_4X_LDX) Set_4X_LDX = nullptr;
    decltype(&::Regwire_strerror) Regwire_strerror = nullptr;

    // Loads the library and its seven functions; false with the loader's reason.
    bool load(std::string& error);
    // The file the loader chose.
    std::string path() const { return path_; }

  private:
    void* handle_ = nullptr;
    std::string path_;
};

// Loads `library` for the program `program`; on failure says why on standard error.
bool load_or_report(const char* program, RegwireLibrary& library);

}  // namespace support
