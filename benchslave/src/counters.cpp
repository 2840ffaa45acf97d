// SPDX-License-Identifier: MIT
#include "counters.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

namespace benchslave {

namespace {

// Every key exists from the start so that readers can compare before and after.
constexpr const char* kKeys[] = {"requests",
                                 "ignored",
                                 "broadcasts",
                                 "bad_frames",
                                 "fc03",
                                 "fc06",
                                 "fc16",
                                 "fc_other",
                                 "replies",
                                 "faults_no_reply",
                                 "faults_bad_crc",
                                 "faults_exception",
                                 "faults_delay",
                                 "faults_wrong_unit",
                                 "faults_wrong_protocol",
                                 "faults_wrong_echo",
                                 "line_baud",
                                 "line_parity",
                                 "queued",
                                 "dropped_busy",
                                 "dropped_random",
                                 "random_delays",
                                 "duplicates",
                                 "echoed_bytes",
                                 "wrong_speed",
                                 "clients_refused",
                                 "clients_idle",
                                 "accept_failures"};

}  // namespace

Counters::Counters() {
    for (const char* key : kKeys) values_[key] = 0;
}

void Counters::add(const std::string& key, long amount) {
    values_[key] += amount;
}
void Counters::set(const std::string& key, long value) {
    values_[key] = value;
}

long Counters::get(const std::string& key) const {
    auto it = values_.find(key);
    return it == values_.end() ? 0 : it->second;
}

std::string Counters::text() const {
    std::string out;
    for (const auto& [key, value] : values_) {
        out += key + "=" + std::to_string(value) + "\n";
    }
    return out;
}

bool Counters::write_file(const std::string& path) const {
    const std::string tmp = path + ".tmp";
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const std::string body = text();
    const ssize_t n = ::write(fd, body.data(), body.size());
    ::close(fd);
    if (n != static_cast<ssize_t>(body.size())) return false;
    return std::rename(tmp.c_str(), path.c_str()) == 0;
}

}  // namespace benchslave
