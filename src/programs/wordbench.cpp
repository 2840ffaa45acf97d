// SPDX-License-Identifier: MIT
#include "window/program.h"

int main(int argc, char** argv) {
    return bench::runProgram(argc, argv, bench::Variant::Word16);
}
