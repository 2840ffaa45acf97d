// SPDX-License-Identifier: MIT
#include "registers.h"

#include <cmath>
#include <cstring>

namespace benchslave {

namespace {

void put32(std::uint16_t* registers, int address, std::int32_t value) {
    const auto u = static_cast<std::uint32_t>(value);
    registers[address] = static_cast<std::uint16_t>(u >> 16);
    registers[address + 1] = static_cast<std::uint16_t>(u & 0xFFFFu);
}

}  // namespace

void update_demo(std::uint16_t* registers, long long second) {
    for (int r = 0; r < 20; ++r) {
        registers[r] = static_cast<std::uint16_t>((second + r) & 0xFFFF);
    }
    for (int r = 20; r < 40; ++r) {
        const double phase = static_cast<double>(second + r) * 0.7;
        const auto v = static_cast<std::int16_t>(std::lround(1000.0 * std::sin(phase)));
        registers[r] = static_cast<std::uint16_t>(v);
    }
    for (int k = 0; k < 10; ++k) {
        const long long v = (second % 100000) * 100003LL - 5000000LL * k;
        put32(registers, 40 + 2 * k, static_cast<std::int32_t>(v));
    }
}

void fill_pattern(Pattern pattern, std::uint16_t* registers) {
    std::memset(registers, 0, sizeof(std::uint16_t) * kRegisterCount);
    if (pattern == Pattern::Address) {
        for (int r = 0; r < kRegisterCount; ++r) registers[r] = static_cast<std::uint16_t>(r);
    }
    if (pattern != Pattern::Demo) return;
    static const std::uint16_t fixed16[] = {0, 1, 0x7FFF, 0x8000, 0xFFFF, 0xFFFE, 1234, 0xFB2E};
    for (int i = 0; i < 8; ++i) registers[100 + i] = fixed16[i];
    static const std::int32_t fixed32[] = {-1, 100000, -100000, 0x12345678};
    for (int i = 0; i < 4; ++i) put32(registers, 110 + 2 * i, fixed32[i]);
    update_demo(registers, 0);
}

}  // namespace benchslave
