// SPDX-License-Identifier: MIT
#include "process.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <thread>

extern char** environ;

namespace support {

namespace {

int remaining_ms(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return 0;
    return left > 60000 ? 60000 : static_cast<int>(left) + 1;
}

std::vector<std::string> child_environment(const SpawnOptions& options) {
    std::map<std::string, std::string> vars;
    for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
        const std::string entry(*e);
        const auto eq = entry.find('=');
        if (eq != std::string::npos) vars[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    for (const auto& name : options.unset) vars.erase(name);
    for (const auto& [name, value] : options.env) vars[name] = value;
    std::vector<std::string> out;
    out.reserve(vars.size());
    for (const auto& [name, value] : vars) out.push_back(name + "=" + value);
    return out;
}

// Waits for the process to end, up to the deadline, without reaping it. A pidfd
// says so at once; without one, waitid() is asked every 200 us.
bool wait_exit(pid_t pid, Clock::time_point deadline) {
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (pidfd >= 0) {
        for (;;) {
            pollfd p{pidfd, POLLIN, 0};
            const int rc = ::poll(&p, 1, remaining_ms(deadline));
            if (rc < 0 && errno == EINTR) continue;
            ::close(pidfd);
            return rc > 0;
        }
    }
    for (;;) {
        siginfo_t info{};
        if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
            info.si_pid == pid) {
            return true;
        }
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

}  // namespace

std::unique_ptr<Child> Child::spawn(const SpawnOptions& options, std::string& error) {
    if (options.argv.empty()) {
        error = "nothing to run";
        return nullptr;
    }
    std::unique_ptr<Child> child(new Child());
    int out_pipe[2] = {-1, -1};
    int err_pipe[2] = {-1, -1};
    const int devnull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (devnull < 0 || (options.capture_stdout && ::pipe2(out_pipe, O_CLOEXEC) != 0) ||
        (options.capture_stderr && ::pipe2(err_pipe, O_CLOEXEC) != 0)) {
        error = std::string("pipe: ") + std::strerror(errno);
        for (int fd : {devnull, out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]}) {
            if (fd >= 0) ::close(fd);
        }
        return nullptr;
    }

    const std::vector<std::string> env = child_environment(options);
    std::vector<char*> envp;
    for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    std::vector<char*> argv;
    for (const auto& a : options.argv) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    cpu_set_t cpus;
    CPU_ZERO(&cpus);
    if (options.cpu >= 0) CPU_SET(options.cpu, &cpus);

    const pid_t parent = ::getpid();
    child->started_ = Clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Only async-signal-safe calls until exec.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(127);
        if (options.cpu >= 0 && ::sched_setaffinity(0, sizeof cpus, &cpus) != 0) ::_exit(126);
        ::dup2(devnull, STDIN_FILENO);
        ::dup2(options.capture_stdout ? out_pipe[1] : devnull, STDOUT_FILENO);
        if (options.capture_stderr) {
            ::dup2(err_pipe[1], STDERR_FILENO);
        } else if (options.stderr_to_stdout) {
            ::dup2(STDOUT_FILENO, STDERR_FILENO);
        } else if (!options.inherit_stderr) {
            ::dup2(devnull, STDERR_FILENO);
        }
        ::execvpe(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(devnull);
    for (int fd : {out_pipe[1], err_pipe[1]}) {
        if (fd >= 0) ::close(fd);
    }
    if (pid < 0) {
        error = std::string("fork: ") + std::strerror(errno);
        for (int fd : {out_pipe[0], err_pipe[0]}) {
            if (fd >= 0) ::close(fd);
        }
        return nullptr;
    }
    child->pid_ = pid;
    child->out_.fd = out_pipe[0];
    child->out_.ended = out_pipe[0] < 0;
    child->err_.fd = err_pipe[0];
    child->err_.ended = err_pipe[0] < 0;
    return child;
}

Child::~Child() {
    stop();
    close_streams();
}

void Child::close_streams() {
    for (Stream* s : {&out_, &err_}) {
        if (s->fd >= 0) ::close(s->fd);
        s->fd = -1;
        s->ended = true;
    }
}

bool Child::fill(Stream& s, Clock::time_point deadline) {
    if (s.ended) return false;
    pollfd p{s.fd, POLLIN, 0};
    int rc = 0;
    do {
        rc = ::poll(&p, 1, remaining_ms(deadline));
    } while (rc < 0 && errno == EINTR);
    if (rc <= 0) return false;
    char buf[8192];
    ssize_t n = 0;
    do {
        n = ::read(s.fd, buf, sizeof buf);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) {
        ::close(s.fd);
        s.fd = -1;
        s.ended = true;
        return false;
    }
    s.buffer.append(buf, static_cast<std::size_t>(n));
    return true;
}

std::optional<std::string> Child::stdout_line(Clock::time_point deadline) {
    for (;;) {
        const auto nl = out_.buffer.find('\n');
        if (nl != std::string::npos) {
            std::string line = out_.buffer.substr(0, nl);
            out_.buffer.erase(0, nl + 1);
            return line;
        }
        if (!fill(out_, deadline)) return std::nullopt;
    }
}

std::optional<Clock::time_point> Child::await_stderr(const std::string& text,
                                                     Clock::time_point deadline) {
    for (;;) {
        for (auto nl = err_.buffer.find('\n'); nl != std::string::npos;
             nl = err_.buffer.find('\n')) {
            const bool found = err_.buffer.substr(0, nl).find(text) != std::string::npos;
            err_.buffer.erase(0, nl + 1);
            if (found) return Clock::now();
        }
        if (!fill(err_, deadline)) return std::nullopt;
    }
}

void Child::drain() {
    const auto now = Clock::now();
    for (Stream* s : {&out_, &err_}) {
        while (fill(*s, now)) {
            // Keep only the tail: a drained stream is read to keep the child moving.
            if (s->buffer.size() > 65536) s->buffer.erase(0, s->buffer.size() - 65536);
        }
    }
}

void Child::read_to_end(Clock::time_point deadline) {
    for (;;) {
        pollfd fds[2] = {{out_.fd, POLLIN, 0}, {err_.fd, POLLIN, 0}};
        if (fds[0].fd < 0 && fds[1].fd < 0) break;
        const int rc = ::poll(fds, 2, remaining_ms(deadline));
        if (rc < 0 && errno == EINTR) continue;
        if (rc <= 0) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].revents != 0) fill(i == 0 ? out_ : err_, deadline);
        }
    }
}

bool Child::exited() {
    if (reaped_) return true;
    if (pid_ <= 0) return true;
    int status = 0;
    const pid_t rc = ::waitpid(pid_, &status, WNOHANG);
    if (rc == pid_) {
        status_ = status;
        reaped_ = true;
    }
    return reaped_;
}

bool Child::wait_until(Clock::time_point deadline) {
    if (exited()) return true;
    if (!wait_exit(pid_, deadline)) return false;
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    status_ = status;
    reaped_ = true;
    return true;
}

void Child::signal(int sig) {
    if (!exited()) ::kill(pid_, sig);
}

int Child::stop(std::chrono::milliseconds grace) {
    if (exited()) return status_;
    ::kill(pid_, SIGTERM);
    if (!wait_until(Clock::now() + grace)) kill_now();
    return status_;
}

int Child::kill_now() {
    if (exited()) return status_;
    ::kill(pid_, SIGKILL);
    wait_until(Clock::now() + std::chrono::seconds(10));
    return status_;
}

RunResult run_to_end(const SpawnOptions& options, std::chrono::milliseconds limit) {
    RunResult result;
    std::string error;
    auto child = Child::spawn(options, error);
    if (!child) {
        result.err = error;
        return result;
    }
    const auto deadline = child->started() + limit;
    // Both streams to their ends, so neither pipe can fill and stall the child.
    child->read_to_end(deadline);
    result.finished = child->wait_until(deadline);
    result.seconds = std::chrono::duration<double>(Clock::now() - child->started()).count();
    if (!result.finished) child->stop(std::chrono::milliseconds(0));
    result.out = child->stdout_text();
    result.err = child->stderr_text();
    if (result.finished && WIFEXITED(child->status()))
        result.exit_code = WEXITSTATUS(child->status());
    return result;
}

RunResult run_program(const std::vector<std::string>& argv, std::chrono::milliseconds limit) {
    SpawnOptions options;
    options.argv = argv;
    options.stderr_to_stdout = true;
    return run_to_end(options, limit);
}

bool on_path(const std::string& program) {
    if (program.find('/') != std::string::npos) return ::access(program.c_str(), X_OK) == 0;
    const char* path = std::getenv("PATH");
    std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
    std::size_t begin = 0;
    while (begin <= dirs.size()) {
        const auto end = dirs.find(':', begin);
        const std::string dir = dirs.substr(begin, end == std::string::npos ? end : end - begin);
        const std::string candidate = (dir.empty() ? "." : dir) + "/" + program;
        struct stat st = {};
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0) {
            return true;
        }
        if (end == std::string::npos) break;
        begin = end + 1;
    }
    return false;
}

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds deadline) {
    const auto end = Clock::now() + deadline;
    for (;;) {
        if (condition()) return true;
        if (Clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace support
