// SPDX-License-Identifier: MIT
// The program-wide arrays, owned by main and handed to the window. All elements
// are 0 when the program starts.
#pragma once

#include <array>
#include <cstdint>

namespace bench {

// Elements of PortSettings that the window uses.
enum PortSetting : std::size_t {
    kPort = 0,
    kSpeed = 1,
    kParity = 2,
    kStation = 3,
    kReadStart = 19,
    kLastOpenCloseResult = 20,
};

struct ProgramState {
    std::array<int32_t, 501> PortSettings{};
    std::array<int32_t, 1501> ReadValues{};
    std::array<int32_t, 81> WriteValues{};
};

}  // namespace bench
