// SPDX-License-Identifier: MIT
// The Modbus RTU frame check (CRC-16, polynomial 0xA001 bit-reversed, start value
// 0xFFFF, sent low byte first): the tests' own oracle, written apart from the
// codec's. The test slaves seal the frames they make or mutate on purpose
// (another station, function, byte count or address) with it, so that the master
// has to reject them for what they say, not for a broken checksum. The hostile
// slave checks this routine against every frame libmodbus builds for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace reliability {

inline std::uint16_t modbus_crc16(const std::uint8_t* data, std::size_t length) {
    std::uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < length; ++i) {
        crc = static_cast<std::uint16_t>(crc ^ data[i]);
        for (int bit = 0; bit < 8; ++bit) {
            const bool lsb = (crc & 1u) != 0;
            crc = static_cast<std::uint16_t>(crc >> 1);
            if (lsb) crc = static_cast<std::uint16_t>(crc ^ 0xA001u);
        }
    }
    return crc;
}

// Appends the CRC of `frame` to it.
inline void append_crc(std::vector<std::uint8_t>& frame) {
    const std::uint16_t crc = modbus_crc16(frame.data(), frame.size());
    frame.push_back(static_cast<std::uint8_t>(crc & 0xFFu));
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
}

// True if the last two bytes of `frame` are the CRC of the bytes before them.
inline bool crc_ok(const std::vector<std::uint8_t>& frame) {
    if (frame.size() < 3) return false;
    const std::uint16_t crc = modbus_crc16(frame.data(), frame.size() - 2);
    return frame[frame.size() - 2] == (crc & 0xFFu) && frame[frame.size() - 1] == (crc >> 8);
}

}  // namespace reliability
