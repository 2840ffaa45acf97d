// SPDX-License-Identifier: MIT
#include "gui.h"

#include <ftw.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>

namespace perf {

RuntimeDir::RuntimeDir() {
    char templ[] = "/tmp/bench-runtime-XXXXXX";
    if (::mkdtemp(templ) != nullptr) path_ = templ;  // mkdtemp makes it 0700
}

RuntimeDir::~RuntimeDir() {
    if (path_.empty()) return;
    ::nftw(
        path_.c_str(),
        [](const char* path, const struct stat*, int, struct FTW*) { return ::remove(path); }, 16,
        FTW_DEPTH | FTW_PHYS);
}

support::SpawnOptions offscreen_program(std::vector<std::string> argv,
                                        const std::string& runtime_dir) {
    support::SpawnOptions options;
    options.argv = std::move(argv);
    options.env = {{"QT_QPA_PLATFORM", "offscreen"},
                   {"XDG_RUNTIME_DIR", runtime_dir},
                   {"QT_LOGGING_RULES", std::string(kWindowShownCategory) + ".debug=true"}};
    options.unset = {"DISPLAY", "WAYLAND_DISPLAY"};
    options.capture_stdout = false;
    options.capture_stderr = true;
    return options;
}

support::SpawnOptions x11_program(std::vector<std::string> argv, const std::string& runtime_dir,
                                  const std::string& display) {
    support::SpawnOptions options;
    options.argv = std::move(argv);
    options.env = {
        {"QT_QPA_PLATFORM", "xcb"}, {"XDG_RUNTIME_DIR", runtime_dir}, {"DISPLAY", display}};
    options.unset = {"WAYLAND_DISPLAY", "QT_LOGGING_RULES"};
    options.capture_stdout = false;
    options.capture_stderr = true;
    return options;
}

}  // namespace perf
