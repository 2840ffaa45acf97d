// SPDX-License-Identifier: MIT
// Registers that make the simulator fault: a request whose range touches one of
// them gets the fault named. Shared by the simulator and the tests that drive it.
#pragma once

namespace benchslave {

inline constexpr int kMagicNoReply = 60001;    // no reply at all
inline constexpr int kMagicBadCrc = 60002;     // a reply with a bad CRC
inline constexpr int kMagicException = 60003;  // exception kMagicExceptionCode
inline constexpr int kMagicDelay = 60004;      // a reply delayed by --delay-ms
inline constexpr int kMagicExceptionCode = 4;  // slave device failure

}  // namespace benchslave
