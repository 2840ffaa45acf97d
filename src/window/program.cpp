// SPDX-License-Identifier: MIT
#include "window/program.h"

#include <QApplication>
#include <QFontDatabase>
#include <cstdio>
#include <cstdlib>

#include "core/program_state.h"
#include "driver/library_driver.h"
#include "window/bench_window.h"

namespace bench {
namespace {

// Without a platform to draw on, Qt would abort; say what to do instead.
bool haveDisplay() {
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') return true;
    }
    return false;
}

// Without a face that has Chinese glyphs, every text of the window is empty boxes.
void warnWithoutChineseFace(const char* program) {
    if (!QFontDatabase::families(QFontDatabase::SimplifiedChinese).isEmpty()) return;
    std::fprintf(stderr,
                 "%s: no font with Chinese characters is installed, so the window's texts "
                 "show as empty boxes. Install one, e.g. sudo apt-get install "
                 "fonts-arphic-uming (or fonts-noto-cjk).\n",
                 program);
}

}  // namespace

int runProgram(int argc, char** argv, Variant variant) {
    if (!haveDisplay()) {
        std::fprintf(stderr,
                     "%s: no display. Run it on a desktop, under Xvfb (xvfb-run -a %s), or "
                     "with QT_QPA_PLATFORM=offscreen.\n",
                     variantFacts(variant).programName, variantFacts(variant).programName);
        return 2;
    }
    // The programs read no command line: Qt sees only the program's name, so options
    // such as -reverse or -stylesheet have no effect.
    int qtArgc = argc > 0 ? 1 : 0;
    char* qtArgv[] = {argc > 0 ? argv[0] : nullptr, nullptr};
    QApplication app(qtArgc, qtArgv);
    QApplication::setApplicationName(QString::fromUtf8(variantFacts(variant).programName));
    QApplication::setApplicationVersion(QStringLiteral("2007.09.0002"));
    warnWithoutChineseFace(variantFacts(variant).programName);
    ProgramState state;
    LibraryDriver driver;
    BenchWindow window(variant, state, driver);
    window.show();
    return QApplication::exec();
}

}  // namespace bench
