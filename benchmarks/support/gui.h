// SPDX-License-Identifier: MIT
// Starting the window programs for measurement: offscreen or on an X display,
// with a private runtime folder, and telling from outside when the window exists.
#pragma once

#include <string>
#include <vector>

#include "process.h"

namespace perf {

// A fresh folder for XDG_RUNTIME_DIR (mode 0700, as Qt wants it), removed with
// everything in it at the end.
class RuntimeDir {
  public:
    RuntimeDir();
    ~RuntimeDir();
    RuntimeDir(const RuntimeDir&) = delete;
    RuntimeDir& operator=(const RuntimeDir&) = delete;
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

// Offscreen, Qt 6.4 logs one line in this category right after it has flushed the
// first frame of the first window (it then looks for a mouse and finds none), and
// nothing else. Enabled through QT_LOGGING_RULES, it marks "window shown" on
// stderr without touching the program. (qt.qpa.backingstore would be earlier but
// wrong: a program may create its window long before it shows it.)
inline constexpr const char* kWindowShownCategory = "qt.qpa.input.devices";

// The options to run a Qt program offscreen, its stderr captured so that the
// first frame can be awaited with support::Child::await_stderr(kWindowShownCategory).
support::SpawnOptions offscreen_program(std::vector<std::string> argv,
                                        const std::string& runtime_dir);
// The options to run a Qt program on X display `display` (e.g. ":3").
support::SpawnOptions x11_program(std::vector<std::string> argv, const std::string& runtime_dir,
                                  const std::string& display);

}  // namespace perf
