// SPDX-License-Identifier: MIT
// main of the window tests: a headless QApplication around GoogleTest.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <thread>

#include "environment_locale.h"

namespace {

std::ptrdiff_t threadsOfThisProcess() {
    std::error_code error;
    const std::filesystem::directory_iterator tasks("/proc/self/task", error);
    return error ? 1 : std::distance(tasks, std::filesystem::directory_iterator());
}

// Painting hands work to a thread pool of Qt's, whose threads (each with its
// per-thread data, allocated in QtCore) end only as the application ends, in the
// last moments before the process exits. LeakSanitizer checks as the process
// exits; so that no such thread is still ending then, the process exits only once
// the other threads are gone (5 s at most).
void waitForQtThreadsToEnd() {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (threadsOfThisProcess() > 1 && std::chrono::steady_clock::now() < giveUp) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Qt wants a private runtime directory; give it a fresh one.
    char runtime[] = "/tmp/bench-runtime-XXXXXX";
    if (std::getenv("XDG_RUNTIME_DIR") == nullptr && mkdtemp(runtime) != nullptr) {
        setenv("XDG_RUNTIME_DIR", runtime, 1);
    }
    ::testing::InitGoogleTest(&argc, argv);
    int result = 1;
    {
        QApplication app(argc, argv);  // takes the locale of the environment
        if (bench::testing::environmentLocaleTaken()) result = RUN_ALL_TESTS();
    }
    waitForQtThreadsToEnd();
    if (std::getenv("XDG_RUNTIME_DIR") == std::string_view(runtime)) rmdir(runtime);
    return result;
}
