// SPDX-License-Identifier: MIT
// Text from files and the environment made safe for a terminal. Pure.
#pragma once

#include <string>
#include <string_view>

namespace regwire_tool {

// `text` with control characters (C0, DEL, C1) and bytes that are no valid
// UTF-8 written as \xNN, and a backslash as \\; other UTF-8 is kept.
std::string printable(std::string_view text);

}  // namespace regwire_tool
