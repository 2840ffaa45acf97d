// SPDX-License-Identifier: MIT
// The serial devices of this machine and whether the current user may open them.
#pragma once

#include <string>
#include <vector>

namespace regwire_tool {

struct SerialDevice {
    std::string path;    // /dev/ttyUSB0, or a /dev/serial/by-id link
    std::string target;  // for a link: the device it points to
    std::string note;    // "UART type 4" for a ttyS with a real UART
};

// /dev/serial/by-id links, ttyUSB*, ttyACM*, and the ttyS* that have a UART.
std::vector<SerialDevice> serial_devices();

struct Access {
    bool ok = false;
    std::string text;  // "ok", or why not and the usual fix
};

// Whether this process may open `device` for reading and writing. TCP
// addresses are always "ok (TCP)".
Access device_access(const std::string& device);

}  // namespace regwire_tool
