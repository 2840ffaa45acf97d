// Test helpers: a benchslave simulator run as a child process, and a bounded
// run of any other program. Every process started here is stopped by its pid,
// also when a test fails (destructor), and dies with the test process.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace benchslave_fixture {

using Counters = std::map<std::string, long>;

class SlaveProcess {
public:
    // Starts benchslave with `args` (see `benchslave --help`); a counters file in a
    // private temporary folder is added. Waits up to 10 s for the first line, the
    // address a master opens (a pts path, or tcp:127.0.0.1:PORT). With
    // regwire_port > 0, sets REGWIRE_PORT<regwire_port> to that address in this
    // process until the destructor, which restores the previous value.
    explicit SlaveProcess(std::vector<std::string> args = {}, int regwire_port = 0);
    ~SlaveProcess();
    SlaveProcess(const SlaveProcess&) = delete;
    SlaveProcess& operator=(const SlaveProcess&) = delete;

    bool started() const { return !address_.empty(); }
    const std::string& error() const { return error_; }  // why it did not start
    const std::string& address() const { return address_; }
    pid_t pid() const { return pid_; }

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
    void reap(std::chrono::milliseconds deadline);
    std::string read_rest(std::chrono::milliseconds deadline);

    pid_t pid_ = -1;
    int stdout_fd_ = -1;
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

struct RunResult {
    bool finished = false;  // false: killed at the deadline
    int exit_code = -1;     // when finished normally
    std::string output;     // stdout and stderr together
};

// Runs argv[0] (searched in PATH) with a deadline; kills it by pid if it overruns.
RunResult run_program(const std::vector<std::string>& argv, std::chrono::milliseconds deadline);

// True if `program` is found in PATH.
bool on_path(const std::string& program);

// Polls `condition` every few milliseconds until it holds or the deadline passes.
bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds deadline);

}  // namespace benchslave_fixture
