// SPDX-License-Identifier: MIT
#include "line.h"

#include <errno.h>
#include <fcntl.h>
#include <modbus.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace benchslave {

void Outbox::add(Clock::time_point due, int peer, Bytes bytes) {
    auto at = std::upper_bound(queue_.begin(), queue_.end(), due,
                               [](Clock::time_point t, const Pending& p) { return t < p.due; });
    queue_.insert(at, Pending{due, peer, std::move(bytes)});
}

std::optional<Outbox::Pending> Outbox::take_due(Clock::time_point now) {
    if (queue_.empty() || queue_.front().due > now) return std::nullopt;
    Pending p = std::move(queue_.front());
    queue_.pop_front();
    return p;
}

std::optional<Clock::time_point> Outbox::next() const {
    if (queue_.empty()) return std::nullopt;
    return queue_.front().due;
}

void Outbox::forget(int peer) {
    std::erase_if(queue_, [peer](const Pending& p) { return p.peer == peer; });
}

int timeout_ms(Clock::time_point now,
               std::initializer_list<std::optional<Clock::time_point>> deadlines) {
    std::optional<Clock::time_point> first;
    for (const auto& d : deadlines) {
        if (d && (!first || *d < *first)) first = d;
    }
    if (!first) return -1;
    if (*first <= now) return 0;
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(*first - now).count();
    return static_cast<int>((us + 999) / 1000);
}

void make_nonblocking(int fd) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

bool send_all(int fd, const Bytes& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p{fd, POLLOUT, 0};
            if (::poll(&p, 1, 1000) > 0) continue;
        }
        return false;
    }
    return true;
}

int fail(const std::string& what) {
    std::fprintf(stderr, "benchslave: %s: %s\n", what.c_str(), modbus_strerror(errno));
    return 1;
}

void announce(const Slave& slave, const std::string& address) {
    slave.write_counters();
    std::printf("%s\n", address.c_str());
    std::fflush(stdout);
}

}  // namespace benchslave
