// libRegwire.so bound by name at run time, as the programs bind it: dlopen of
// "libRegwire.so" searches LD_LIBRARY_PATH, then the RUNPATH of the benchmark
// ($ORIGIN/../lib, the build's lib folder).
#pragma once

#include <cstdint>
#include <string>

namespace benchsupport {

struct RegwireApi {
    using Open = int32_t (*)(int32_t, int32_t, int32_t);
    using Close = int32_t (*)(int32_t);
    using Transfer = int32_t (*)(int32_t, int32_t, int32_t, int32_t, int32_t*);
    using Strerror = const char* (*)(int32_t);

    Open OpenPort_Modbus = nullptr;
    Close ClosePort_Modbus = nullptr;
    Transfer Get_4X_DX = nullptr;
    Transfer Set_4X_DX = nullptr;
    Transfer Get_4X_LDX = nullptr;
    Transfer Set_4X_LDX = nullptr;
    Strerror Regwire_strerror = nullptr;

    // Loads the library and its seven functions; false with the loader's reason.
    bool load(std::string& error);
    // The file the loader chose.
    std::string path() const { return path_; }

private:
    void* handle_ = nullptr;
    std::string path_;
};

// Loads `api` for the benchmark `program`; on failure says why on standard error.
bool load_or_report(const char* program, RegwireApi& api);

}  // namespace benchsupport
