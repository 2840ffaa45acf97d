// SPDX-License-Identifier: MIT
// The Modbus codec on byte vectors: no line, no library, milliseconds.
#include <gtest/gtest.h>

#include "pdu.h"

namespace {

using regwire::pdu::Bytes;

// An oracle of our own: the CRC of a frame given in the protocol's documents.
TEST(Codec, CrcOfAKnownFrame) {
    const Bytes frame = {0x01, 0x03, 0x00, 0x00, 0x00, 0x0A};
    Bytes sealed = frame;
    regwire::pdu::seal(sealed);
    EXPECT_EQ(sealed, (Bytes{0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xC5, 0xCD}));
    EXPECT_TRUE(regwire::pdu::sealed(sealed.data(), sealed.size()));
}

}  // namespace
