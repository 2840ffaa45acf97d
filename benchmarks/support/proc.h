// SPDX-License-Identifier: MIT
// What /proc tells about a process: CPU time used and peak resident memory.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>

namespace perf {

// utime + stime in clock ticks from the text of /proc/<pid>/stat. The command
// name in parentheses may itself hold spaces and parentheses.
std::optional<long long> parse_cpu_ticks(const std::string& stat_text);
// A "Key:   1234 kB" value from the text of /proc/<pid>/status, in KiB.
std::optional<long long> parse_status_kib(const std::string& status_text, const std::string& key);

std::optional<long long> cpu_ticks(pid_t pid);
// CPU time of all the process's threads in nanoseconds, from the scheduler's own
// account (/proc/<pid>/task/*/schedstat): finer than clock ticks, which round a
// process that works 1 ms a second down to nothing.
std::optional<long long> cpu_ns(pid_t pid);
std::optional<long long> vm_hwm_kib(pid_t pid);  // peak resident set
// Resident memory of the process's own (anonymous) pages now: heap, stacks,
// private mappings. The rest of the resident set is file pages (libraries,
// fonts) that the page cache shares with every other process.
std::optional<long long> rss_anon_kib(pid_t pid);
long ticks_per_second();

// Waits until the process has used no CPU for `quiet` (checked every 50 ms):
// start-up is over. False at the deadline or when the process is gone.
bool wait_quiet(pid_t pid, std::chrono::milliseconds quiet,
                std::chrono::steady_clock::time_point deadline);

}  // namespace perf
