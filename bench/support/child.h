// Child processes of the benchmarks: started with their own environment, their
// output read with deadlines, and always stopped by their pid (also when the
// benchmark ends early: the destructor, and the kernel if the benchmark dies).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace benchsupport {

using Clock = std::chrono::steady_clock;

struct SpawnOptions {
    std::vector<std::string> argv;           // argv[0] is searched in PATH
    std::map<std::string, std::string> env;  // set in the child, over this process's
    std::vector<std::string> unset;          // removed from the child's environment
    bool capture_stdout = true;              // else /dev/null
    bool capture_stderr = false;             // else /dev/null
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
    // Waits until stderr has shown a line containing `text`; returns when it did,
    // or nothing at the deadline or end of stream. Earlier lines are discarded.
    std::optional<Clock::time_point> await_stderr(const std::string& text,
                                                  Clock::time_point deadline);
    // Reads whatever the pipes hold now, so a chatty child never blocks on them.
    void drain();

    // True once the process has ended (reaped); status() then holds its wait status.
    bool exited();
    int status() const { return status_; }
    // Waits for the end until the deadline; false if it still runs.
    bool wait_until(Clock::time_point deadline);
    // SIGTERM, up to `grace` for it to end, then SIGKILL. Idempotent. Returns
    // the wait status.
    int stop(std::chrono::milliseconds grace = std::chrono::seconds(5));

    // All output read so far and not yet consumed as a line.
    const std::string& stdout_text() const { return out_.buffer; }
    const std::string& stderr_text() const { return err_.buffer; }

private:
    friend RunResult run_to_end(const SpawnOptions& options, std::chrono::milliseconds limit);
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

// Keeps this process (and the children it starts later) on one CPU; false if the
// CPU cannot be used.
bool pin_to_cpu(int cpu);
// Lets this process (and the children it starts later) run on every online CPU again.
bool use_all_cpus();
// The CPU the line benchmarks put master and slave on: the last one this
// process may use; -1 if that cannot be told.
int default_bench_cpu();

// True if `program` is an executable file in PATH (or a path to one).
bool on_path(const std::string& program);

}  // namespace benchsupport
