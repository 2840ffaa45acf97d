// SPDX-License-Identifier: MIT
// The detail of each port's last failure, for Regwire_lastfailure(): what the
// result code cannot say (the device, the operating system's reason, which
// request of a split call).
#pragma once

#include <cstdint>
#include <string>

namespace regwire {

// Keeps `text` as the detail of the last failure on `port`.
void note_failure(int32_t port, std::string text);

// Copies the detail of `port` as Regwire_lastfailure() documents.
int32_t copy_failure(int32_t port, char* text, int32_t size);

}  // namespace regwire
