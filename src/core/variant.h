// SPDX-License-Identifier: MIT
// The facts in which the 16-bit window (Wordbench) and the 32-bit window
// (Longbench) differ; everything else is shared.
#pragma once

#include <string>

namespace bench {

enum class Variant { Word16, Long32 };

struct VariantFacts {
    const char* windowName;   // object name of the window: "ssqx16" or "ssqx"
    const char* programName;  // "wordbench" or "longbench"
    std::string caption;
    int clientWidthTwips;
    int clientHeightTwips;
    int addressStep;            // registers per value: 1 or 2
    const char* readFunction;   // driver function of the read cycle
    const char* writeFunction;  // driver function of the Write command
    std::string readDeclaration;
    std::string writeDeclaration;
    std::string installNote;
};

const VariantFacts& variantFacts(Variant variant);

}  // namespace bench
