// SPDX-License-Identifier: MIT
// The library's own version, set in regwire/CMakeLists.txt.
#include "regwire.h"

const char* Regwire_version(void) {
    return REGWIRE_VERSION_TEXT;
}
