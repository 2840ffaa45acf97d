// main of the window tests: a headless QApplication around GoogleTest.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>
#include <cstdlib>

#include "environment_locale.h"

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Qt wants a private runtime directory; give it a fresh one.
    char runtime[] = "/tmp/bench-runtime-XXXXXX";
    if (std::getenv("XDG_RUNTIME_DIR") == nullptr && mkdtemp(runtime) != nullptr) {
        setenv("XDG_RUNTIME_DIR", runtime, 1);
    }
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);  // takes the locale of the environment
    if (!bench::testing::environmentLocaleTaken()) return 1;
    const int result = RUN_ALL_TESTS();
    if (std::getenv("XDG_RUNTIME_DIR") == std::string_view(runtime)) rmdir(runtime);
    return result;
}
