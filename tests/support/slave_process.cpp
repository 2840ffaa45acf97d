// SPDX-License-Identifier: MIT
#include "slave_process.h"

#include <errno.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>

#ifndef BENCHSLAVE_PATH
#error "BENCHSLAVE_PATH must name the built benchslave"
#endif

namespace support {

std::string SlaveProcess::binary_path() {
    return BENCHSLAVE_PATH;
}

SlaveProcess::SlaveProcess(SlaveOptions options) {
    SpawnOptions spawn;
    spawn.argv = {binary_path()};
    spawn.argv.insert(spawn.argv.end(), options.args.begin(), options.args.end());
    if (options.counters_file) {
        char templ[] = "/tmp/benchslave-test-XXXXXX";
        if (::mkdtemp(templ) == nullptr) {
            error_ = std::string("mkdtemp: ") + std::strerror(errno);
            return;
        }
        dir_ = templ;
        counters_path_ = dir_ + "/counters";
        spawn.argv.push_back("--counters-file");
        spawn.argv.push_back(counters_path_);
    }
    spawn.capture_stderr = options.capture_stderr;
    spawn.inherit_stderr = !options.capture_stderr;
    process_ = Child::spawn(spawn, error_);
    if (!process_) return;

    const auto line = process_->stdout_line(Clock::now() + std::chrono::seconds(10));
    if (line) {
        address_ = *line;
    } else if (process_->stdout_ended()) {
        error_ = "benchslave ended before printing its address: " + process_->stdout_text() +
                 process_->stderr_text();
    } else {
        error_ = "benchslave printed no address within 10 s";
    }
    if (address_.empty()) {
        stop();
        return;
    }
    if (options.regwire_port > 0) {
        env_name_ = "REGWIRE_PORT" + std::to_string(options.regwire_port);
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
    if (!process_) return {};
    process_->signal(SIGTERM);
    // What it prints on its way out, then its end; SIGKILL if either takes too long.
    const auto end = Clock::now() + std::chrono::seconds(5);
    process_->read_to_end(end);
    if (!process_->wait_until(end)) process_->kill_now();
    wait_status_ = process_->status();
    const Counters printed = parse_counters(process_->stdout_text());
    process_.reset();
    return printed;
}

void SlaveProcess::kill_now() {
    if (!process_) return;
    wait_status_ = process_->kill_now();
    process_.reset();
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

}  // namespace support
