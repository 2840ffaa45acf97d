// SPDX-License-Identifier: MIT
// benchslave: a Modbus slave simulator, so that the register tools can be used and
// tested without a device.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "options.h"
#include "server.h"

namespace {

int g_stop_write_fd = -1;

void on_stop_signal(int) {
    const char byte = 1;
    // Async-signal-safe wake-up of the serving loop; a full pipe already wakes it.
    [[maybe_unused]] ssize_t n = ::write(g_stop_write_fd, &byte, 1);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    const benchslave::ParseResult parsed = benchslave::parse_options(args);
    if (!parsed.options) {
        std::fputs(parsed.message.c_str(), parsed.help ? stdout : stderr);
        return parsed.help ? 0 : 2;
    }

    int stop_pipe[2];
    if (::pipe2(stop_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("benchslave: pipe");
        return 1;
    }
    g_stop_write_fd = stop_pipe[1];

    struct sigaction action = {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    // A TCP master that goes away while we answer must not end the simulator.
    ::signal(SIGPIPE, SIG_IGN);

    return benchslave::serve(*parsed.options, stop_pipe[0]);
}
