// SPDX-License-Identifier: MIT
// The benchslave simulator run as a child process by tests and benchmarks. It is
// stopped by its pid, also when the caller fails (destructor), and dies with the
// caller.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "process.h"

namespace support {

using Counters = std::map<std::string, long>;

struct SlaveOptions {
    std::vector<std::string> args;  // see `benchslave --help`
    // > 0: REGWIRE_PORT<regwire_port> names the simulator's address in this
    // process until the simulator is destroyed; the previous value comes back then.
    int regwire_port = 0;
    // A counters file in a private temporary folder, rewritten after every request.
    bool counters_file = true;
    // Its stderr kept for error(); else it goes to this process's stderr.
    bool capture_stderr = false;

    // For timing: on a fresh pseudo-terminal, no file written per request, stderr kept.
    static SlaveOptions for_timing(std::vector<std::string> args) {
        args.insert(args.begin(), "--pty");
        return {std::move(args), 0, false, true};
    }
};

class SlaveProcess {
  public:
    // Starts benchslave and waits up to 10 s for its first line, the address a
    // master opens (a pts path, or tcp:127.0.0.1:PORT).
    explicit SlaveProcess(std::vector<std::string> args = {}, int regwire_port = 0)
        : SlaveProcess(SlaveOptions{std::move(args), regwire_port}) {}
    explicit SlaveProcess(SlaveOptions options);
    ~SlaveProcess();
    SlaveProcess(const SlaveProcess&) = delete;
    SlaveProcess& operator=(const SlaveProcess&) = delete;

    bool started() const { return !address_.empty(); }
    const std::string& error() const { return error_; }  // why it did not start
    const std::string& address() const { return address_; }
    pid_t pid() const { return process_ ? process_->pid() : -1; }

    // The simulator rewrites its counters file after every request, before it
    // answers: once a master has a reply, these are current. Keys as benchslave
    // prints them (requests, ignored, bad_frames, fc03, fc16, replies, ...).
    Counters counters() const;
    // One counter; -1 if it cannot be read.
    long counter(const std::string& key) const;

    // SIGTERM, then waits up to 5 s (SIGKILL after that). Returns the counters the
    // simulator printed on exit (empty if it did not print them). Idempotent.
    Counters stop();
    // SIGKILL and reap: the device vanishes at once.
    void kill_now();
    // The exit status of a stopped simulator (as from waitpid), or -1.
    int wait_status() const { return wait_status_; }

    static std::string binary_path();

  private:
    std::unique_ptr<Child> process_;
    int wait_status_ = -1;
    std::string address_;
    std::string error_;
    std::string dir_;
    std::string counters_path_;
    std::string env_name_;
    std::optional<std::string> env_previous_;
};

// Parses key=value lines.
Counters parse_counters(const std::string& text);

}  // namespace support
