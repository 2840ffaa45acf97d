// SPDX-License-Identifier: MIT
// A simulator on a Regwire port, opened for the length of a test (linked to
// Regwire itself, not loaded by name).
#pragma once

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "regwire.h"
#include "slave_process.h"

namespace support {

inline constexpr int kPort = 6;

// Sets an environment variable for a scope.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = ::getenv(name)) previous_ = old, had_ = true;
        ::setenv(name, value, 1);
    }
    ~ScopedEnv() {
        if (had_) {
            ::setenv(name_.c_str(), previous_.c_str(), 1);
        } else {
            ::unsetenv(name_.c_str());
        }
    }

  private:
    std::string name_;
    std::string previous_;
    bool had_ = false;
};

struct OpenSlave {
    SlaveProcess process;
    int port;
    int32_t open_result = REGWIRE_EOPEN;

    explicit OpenSlave(std::vector<std::string> args = {}, int port_number = kPort, int speed = 2,
                       int parity = 0)
        : process(std::move(args), port_number), port(port_number) {
        if (process.started()) {
            // An allowance that holds on a busy machine, unless the test sets its own
            // (Regwire reads it at open; empty gives the library's default).
            const char* own = std::getenv("REGWIRE_TURNAROUND_MS");
            const std::string allowance = own != nullptr ? own : "400";
            ScopedEnv set("REGWIRE_TURNAROUND_MS", allowance.c_str());
            open_result = OpenPort_Modbus(port, speed, parity);
        }
    }
    ~OpenSlave() { ClosePort_Modbus(port); }

    bool ready() const { return process.started() && open_result == REGWIRE_OK; }
    std::string why() const { return process.error() + " open: " + Regwire_strerror(open_result); }
    // Requests the simulator has seen on the line, of any kind.
    long frames_seen() const {
        auto c = process.counters();
        return c["requests"] + c["broadcasts"] + c["ignored"] + c["bad_frames"];
    }
};

}  // namespace support
