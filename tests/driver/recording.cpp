// SPDX-License-Identifier: MIT
#include "recording.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace bench::testing {

Recording::Recording() {
    char name[] = "/tmp/regwire-record-XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0) throw std::runtime_error("cannot make the recording log");
    close(fd);
    path_ = name;
    setenv("REGWIRE_RECORD_LOG", path_.c_str(), 1);
}

namespace {

// A function of the recording library this process has loaded; null when none is.
void* recordingFunction(const char* name) {
    void* library = dlopen("libRegwire.so", RTLD_NOW | RTLD_NOLOAD);
    if (library == nullptr) return nullptr;
    void* function = dlsym(library, name);
    dlclose(library);
    return function;
}

// Loads the library by name if the driver has not yet, and keeps it loaded so
// that what a test sets is still there when the driver binds it.
void* requiredFunction(const char* name) {
    void* library = dlopen("libRegwire.so", RTLD_NOW);
    void* function = library != nullptr ? dlsym(library, name) : nullptr;
    if (function == nullptr)
        throw std::runtime_error(std::string("no recording library with ") + name);
    return function;
}

using SetResultFn = void (*)(int32_t);
using SetDetailFn = void (*)(const char*);

}  // namespace

Recording::~Recording() {
    if (void* f = recordingFunction("Recording_SetResult")) reinterpret_cast<SetResultFn>(f)(0);
    if (void* f = recordingFunction("Recording_SetFailureDetail")) {
        reinterpret_cast<SetDetailFn>(f)("");
    }
    unsetenv("REGWIRE_RECORD_LOG");
    std::remove(path_.c_str());
}

std::vector<std::string> Recording::takeCalls() {
    std::vector<std::string> calls;
    std::ifstream in(path_);
    for (std::string line; std::getline(in, line);) calls.push_back(line);
    in.close();
    std::ofstream truncate(path_, std::ios::trunc);
    return calls;
}

void Recording::setReadValues(const std::vector<int32_t>& values) {
    using SetFn = void (*)(const int32_t*, int32_t);
    reinterpret_cast<SetFn>(requiredFunction("Recording_SetReadValues"))(
        values.data(), static_cast<int32_t>(values.size()));
}

void Recording::setResult(int32_t result) {
    reinterpret_cast<SetResultFn>(requiredFunction("Recording_SetResult"))(result);
}

void Recording::setFailureDetail(const std::string& text) {
    reinterpret_cast<SetDetailFn>(requiredFunction("Recording_SetFailureDetail"))(text.c_str());
}

}  // namespace bench::testing
