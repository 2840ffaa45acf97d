// SPDX-License-Identifier: MIT
// The window is laid out in twips, 15 to a pixel at 96 dots per inch.
#pragma once

namespace bench {

inline constexpr int kTwipsPerPixel = 15;

constexpr int twipsToPixels(int twips) {
    return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel;
}

}  // namespace bench
