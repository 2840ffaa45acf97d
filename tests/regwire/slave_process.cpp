#include "slave_process.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#ifndef BENCHSLAVE_PATH
#error "BENCHSLAVE_PATH must name the built benchslave"
#endif

namespace benchslave_fixture {

namespace {

using Clock = std::chrono::steady_clock;

int remaining_ms(Clock::time_point end) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Forks and execs; the child's stdout (and stderr if merge) go to a pipe whose
// read end is returned in out_fd. The child is killed if this process dies.
pid_t spawn(const std::vector<std::string>& argv, bool search_path, bool merge_stderr,
            int& out_fd) {
    int p[2];
    if (::pipe2(p, O_CLOEXEC) != 0) return -1;
    std::vector<char*> cargs;
    for (const auto& a : argv) cargs.push_back(const_cast<char*>(a.c_str()));
    cargs.push_back(nullptr);
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Only async-signal-safe calls until exec.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(127);
        ::dup2(p[1], STDOUT_FILENO);
        if (merge_stderr) ::dup2(p[1], STDERR_FILENO);
        const int devnull = ::open("/dev/null", O_RDONLY);
        if (devnull >= 0) ::dup2(devnull, STDIN_FILENO);
        if (search_path) {
            ::execvp(cargs[0], cargs.data());
        } else {
            ::execv(cargs[0], cargs.data());
        }
        ::_exit(127);
    }
    ::close(p[1]);
    if (pid < 0) {
        ::close(p[0]);
        return -1;
    }
    out_fd = p[0];
    return pid;
}

// Reads until EOF or the deadline.
std::string read_all(int fd, Clock::time_point end) {
    std::string out;
    char buf[4096];
    for (;;) {
        pollfd pfd{fd, POLLIN, 0};
        const int rc = ::poll(&pfd, 1, remaining_ms(end));
        if (rc < 0 && errno == EINTR) continue;
        if (rc <= 0) break;
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        out.append(buf, static_cast<std::size_t>(n));
    }
    return out;
}

// Waits for pid with a deadline; SIGKILL when it passes. Returns the wait status.
int wait_with_deadline(pid_t pid, Clock::time_point end) {
    int status = -1;
    for (;;) {
        const pid_t rc = ::waitpid(pid, &status, WNOHANG);
        if (rc == pid) return status;
        if (rc < 0 && errno != EINTR) return -1;
        if (Clock::now() >= end) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ::kill(pid, SIGKILL);
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

}  // namespace

std::string SlaveProcess::binary_path() { return BENCHSLAVE_PATH; }

SlaveProcess::SlaveProcess(std::vector<std::string> args, int regwire_port) {
    char templ[] = "/tmp/benchslave-test-XXXXXX";
    if (::mkdtemp(templ) == nullptr) {
        error_ = std::string("mkdtemp: ") + std::strerror(errno);
        return;
    }
    dir_ = templ;
    counters_path_ = dir_ + "/counters";

    std::vector<std::string> argv{binary_path()};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back("--counters-file");
    argv.push_back(counters_path_);
    pid_ = spawn(argv, false, false, stdout_fd_);
    if (pid_ < 0) {
        error_ = std::string("fork: ") + std::strerror(errno);
        return;
    }

    // The first line, byte by byte, so that nothing after it is consumed.
    const auto end = Clock::now() + std::chrono::seconds(10);
    std::string line;
    for (;;) {
        pollfd pfd{stdout_fd_, POLLIN, 0};
        const int rc = ::poll(&pfd, 1, remaining_ms(end));
        if (rc < 0 && errno == EINTR) continue;
        if (rc <= 0) {
            error_ = "benchslave printed no address within 10 s";
            break;
        }
        char c = 0;
        const ssize_t n = ::read(stdout_fd_, &c, 1);
        if (n <= 0) {
            error_ = "benchslave ended before printing its address: " + line;
            break;
        }
        if (c == '\n') {
            address_ = line;
            break;
        }
        line += c;
    }
    if (address_.empty()) {
        stop();
        return;
    }
    if (regwire_port > 0) {
        env_name_ = "REGWIRE_PORT" + std::to_string(regwire_port);
        if (const char* old = ::getenv(env_name_.c_str())) env_previous_ = old;
        ::setenv(env_name_.c_str(), address_.c_str(), 1);
    }
}

SlaveProcess::~SlaveProcess() {
    stop();
    if (!env_name_.empty()) {
        if (env_previous_) {
            ::setenv(env_name_.c_str(), env_previous_->c_str(), 1);
        } else {
            ::unsetenv(env_name_.c_str());
        }
    }
    if (!dir_.empty()) {
        ::unlink(counters_path_.c_str());
        ::unlink((counters_path_ + ".tmp").c_str());
        ::rmdir(dir_.c_str());
    }
}

Counters SlaveProcess::counters() const {
    std::ifstream in(counters_path_);
    std::stringstream text;
    text << in.rdbuf();
    return parse_counters(text.str());
}

long SlaveProcess::counter(const std::string& key) const {
    const Counters c = counters();
    auto it = c.find(key);
    return it == c.end() ? -1 : it->second;
}

Counters SlaveProcess::stop() {
    if (pid_ <= 0) return {};
    ::kill(pid_, SIGTERM);
    const auto end = Clock::now() + std::chrono::seconds(5);
    const std::string rest = read_rest(std::chrono::milliseconds(remaining_ms(end)));
    reap(std::chrono::milliseconds(remaining_ms(end)));
    return parse_counters(rest);
}

void SlaveProcess::kill_now() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    reap(std::chrono::seconds(5));
}

std::string SlaveProcess::read_rest(std::chrono::milliseconds deadline) {
    if (stdout_fd_ < 0) return {};
    std::string rest = read_all(stdout_fd_, Clock::now() + deadline);
    return rest;
}

void SlaveProcess::reap(std::chrono::milliseconds deadline) {
    if (pid_ > 0) {
        wait_status_ = wait_with_deadline(pid_, Clock::now() + deadline);
        pid_ = -1;
    }
    if (stdout_fd_ >= 0) {
        ::close(stdout_fd_);
        stdout_fd_ = -1;
    }
}

Counters parse_counters(const std::string& text) {
    Counters out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const auto eq = line.find('=');
        if (eq == std::string::npos || eq == 0) continue;
        try {
            out[line.substr(0, eq)] = std::stol(line.substr(eq + 1));
        } catch (const std::exception&) {
            // Not a counter line.
        }
    }
    return out;
}

RunResult run_program(const std::vector<std::string>& argv, std::chrono::milliseconds deadline) {
    RunResult result;
    int fd = -1;
    const pid_t pid = spawn(argv, true, true, fd);
    if (pid < 0) return result;
    const auto end = Clock::now() + deadline;
    result.output = read_all(fd, end);
    ::close(fd);
    const bool in_time = Clock::now() < end;
    const int status = wait_with_deadline(pid, in_time ? end : Clock::now());
    result.finished = in_time && WIFEXITED(status);
    if (result.finished) result.exit_code = WEXITSTATUS(status);
    return result;
}

bool on_path(const std::string& program) {
    const char* path = ::getenv("PATH");
    if (path == nullptr) return false;
    std::stringstream dirs(path);
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        const std::string candidate = (dir.empty() ? "." : dir) + "/" + program;
        if (::access(candidate.c_str(), X_OK) == 0) return true;
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

}  // namespace benchslave_fixture
