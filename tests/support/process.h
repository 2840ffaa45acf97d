// SPDX-License-Identifier: MIT
// Child processes of tests and benchmarks: started with their own environment,
// their output read with deadlines, and always stopped by their pid (also when
// the caller ends early: the destructor, and the kernel if the caller dies).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace support {

using Clock = std::chrono::steady_clock;

struct SpawnOptions {
    std::vector<std::string> argv;           // argv[0] is searched in PATH
    std::map<std::string, std::string> env;  // set in the child, over this process's
    std::vector<std::string> unset;          // removed from the child's environment
    bool capture_stdout = true;              // else /dev/null
    bool capture_stderr = false;             // else /dev/null, or as below
    bool stderr_to_stdout = false;           // stderr into the stdout pipe, in order
    bool inherit_stderr = false;             // stderr stays this process's
    int cpu = -1;                            // >= 0: the child runs on this CPU only
};

struct RunResult;

class Child {
  public:
    // Starts the process. Returns nullptr and sets `error` when it cannot be started.
    static std::unique_ptr<Child> spawn(const SpawnOptions& options, std::string& error);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }
    // When spawn() was called, just before the fork.
    Clock::time_point started() const { return started_; }

    // The next complete line of stdout (without its newline), or nothing if none
    // came before the deadline or the stream ended.
    std::optional<std::string> stdout_line(Clock::time_point deadline);
    // True once stdout has reached its end (or was never captured).
    bool stdout_ended() const { return out_.ended; }
    // Waits until stderr has shown a line containing `text`; returns when it did,
    // or nothing at the deadline or end of stream. Earlier lines are discarded.
    std::optional<Clock::time_point> await_stderr(const std::string& text,
                                                  Clock::time_point deadline);
    // Reads whatever the pipes hold now, so a chatty child never blocks on them.
    void drain();
    // Reads both pipes until they end or the deadline passes.
    void read_to_end(Clock::time_point deadline);

    // True once the process has ended (reaped); status() then holds its wait status.
    bool exited();
    int status() const { return status_; }
    // Waits for the end until the deadline; false if it still runs.
    bool wait_until(Clock::time_point deadline);
    // Sends `sig` unless the process has ended.
    void signal(int sig);
    // SIGTERM, up to `grace` for it to end, then SIGKILL. Idempotent. Returns
    // the wait status.
    int stop(std::chrono::milliseconds grace = std::chrono::seconds(5));
    // SIGKILL and reap. Returns the wait status.
    int kill_now();

    // All output read so far and not yet consumed as a line.
    const std::string& stdout_text() const { return out_.buffer; }
    const std::string& stderr_text() const { return err_.buffer; }

  private:
    struct Stream {
        int fd = -1;
        std::string buffer;
        bool ended = false;
    };
    Child() = default;
    // Reads from `s` once, waiting at most until the deadline. False if nothing
    // more will come before it.
    bool fill(Stream& s, Clock::time_point deadline);
    void close_streams();

    pid_t pid_ = -1;
    int status_ = -1;
    bool reaped_ = false;
    Clock::time_point started_{};
    Stream out_;
    Stream err_;
};

struct RunResult {
    bool finished = false;  // false: it overran the deadline and was killed
    int exit_code = -1;     // when it exited normally
    std::string out;
    std::string err;
    double seconds = 0;  // from just before the fork until it was reaped
};

// Runs a program to its end, killing it by pid at the deadline.
RunResult run_to_end(const SpawnOptions& options, std::chrono::milliseconds limit);
// Runs argv (argv[0] searched in PATH) to its end with stdout and stderr together
// in `out`, as a terminal would show them.
RunResult run_program(const std::vector<std::string>& argv, std::chrono::milliseconds limit);

// True if `program` is an executable file in PATH (or a path to one).
bool on_path(const std::string& program);

// Polls `condition` every few milliseconds until it holds or the deadline passes.
bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds deadline);

}  // namespace support
