// SPDX-License-Identifier: MIT
#include "proc.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

namespace perf {

namespace {

std::string read_text(const std::string& path) {
    std::ifstream in(path);
    if (!in) return {};
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

std::optional<long long> parse_cpu_ticks(const std::string& stat_text) {
    const auto close = stat_text.rfind(')');
    if (close == std::string::npos) return std::nullopt;
    std::istringstream rest(stat_text.substr(close + 1));
    std::vector<std::string> fields;
    for (std::string f; rest >> f;) fields.push_back(f);
    // After the name: state (field 3) ... utime (14), stime (15).
    if (fields.size() < 13) return std::nullopt;
    char* end = nullptr;
    const long long utime = std::strtoll(fields[11].c_str(), &end, 10);
    if (*end != '\0') return std::nullopt;
    const long long stime = std::strtoll(fields[12].c_str(), &end, 10);
    if (*end != '\0') return std::nullopt;
    return utime + stime;
}

std::optional<long long> parse_status_kib(const std::string& status_text, const std::string& key) {
    std::istringstream lines(status_text);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(key + ":", 0) != 0) continue;
        std::istringstream fields(line.substr(key.size() + 1));
        long long value = 0;
        std::string unit;
        if (fields >> value >> unit && unit == "kB") return value;
        return std::nullopt;
    }
    return std::nullopt;
}

std::optional<long long> cpu_ticks(pid_t pid) {
    return parse_cpu_ticks(read_text("/proc/" + std::to_string(pid) + "/stat"));
}

std::optional<long long> cpu_ns(pid_t pid) {
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = ::opendir(tasks.c_str());
    if (dir == nullptr) return std::nullopt;
    long long total = 0;
    bool any = false;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        std::istringstream fields(read_text(tasks + "/" + entry->d_name + "/schedstat"));
        long long ns = 0;
        if (fields >> ns) {
            total += ns;
            any = true;
        }
    }
    ::closedir(dir);
    if (!any) return std::nullopt;
    return total;
}

std::optional<long long> vm_hwm_kib(pid_t pid) {
    return parse_status_kib(read_text("/proc/" + std::to_string(pid) + "/status"), "VmHWM");
}

std::optional<long long> rss_anon_kib(pid_t pid) {
    return parse_status_kib(read_text("/proc/" + std::to_string(pid) + "/status"), "RssAnon");
}

long ticks_per_second() {
    return ::sysconf(_SC_CLK_TCK);
}

bool wait_quiet(pid_t pid, std::chrono::milliseconds quiet,
                std::chrono::steady_clock::time_point deadline) {
    auto last = cpu_ticks(pid);
    if (!last) return false;
    auto since = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const auto now_ticks = cpu_ticks(pid);
        if (!now_ticks) return false;
        const auto now = std::chrono::steady_clock::now();
        if (*now_ticks != *last) {
            last = now_ticks;
            since = now;
        } else if (now - since >= quiet) {
            return true;
        }
    }
    return false;
}

}  // namespace perf
