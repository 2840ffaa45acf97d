// SPDX-License-Identifier: MIT
// What `regwire probe` tells after a failure: the library's account of it and
// the likely causes, the map line for a port nobody mapped, and who holds a
// busy port.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace regwire_tool {

struct ProbeFailure {
    int32_t port = 0;
    std::string device;
    bool mapped = false;  // false: the device is the default /dev/ttyS<k-1>
    int32_t result = 0;   // the REGWIRE_E* code
    std::string account;  // Regwire_lastfailure()
    int baud = 0;
    const char* parity = "";
    long station = 0;
};

// The lines to print, the account first; "Operation now in progress" of a TCP
// connect becomes "timed out connecting". `holders` describes the processes
// that hold the device (for a busy port), one each. Pure.
std::vector<std::string> failure_advice(const ProbeFailure& failure,
                                        const std::vector<std::string>& holders);

// Whether the account says that the device is held by someone else.
bool says_busy(const std::string& account);

// The pids holding a lock on the file (device st_dev, inode) in the text of
// /proc/locks. Pure.
std::vector<pid_t> lock_holders(const std::string& proc_locks, dev_t dev, ino_t inode);

// Who holds `device`: the lock holders from /proc/locks, else the processes
// with it open (/proc/*/fd), other than this one; "pid 123 (wordbench)" each.
// Best effort: processes we may not look into are missed.
std::vector<std::string> device_holders(const std::string& device);

}  // namespace regwire_tool
