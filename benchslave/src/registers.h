// SPDX-License-Identifier: MIT
// Initial and changing contents of the simulator's holding registers.
#pragma once

#include <cstdint>

#include "options.h"

namespace benchslave {

inline constexpr int kRegisterCount = 65536;

// Demo layout, so that a person watching reads sees something move:
//   0..19    counters: register r holds (seconds + r) mod 65536
//   20..39   a wave of signed values around zero, negative half of the time
//   40..59   ten 32-bit values (high word first): seconds * 100003 - 5000000 * k
//   100..107 fixed 16-bit values, among them 0xFFFF (-1) and 0x8000 (-32768)
//   110..117 four fixed 32-bit values, among them -1 and -100000
// Registers 0..59 change every second; everything else keeps what is written.
inline constexpr int kDemoMovingEnd = 60;

// Fills all registers for the pattern. Address: register a holds a, so that read
// values tell where they came from.
void fill_pattern(Pattern pattern, std::uint16_t* registers);

// Refreshes the moving demo registers for the given second.
void update_demo(std::uint16_t* registers, long long second);

}  // namespace benchslave
