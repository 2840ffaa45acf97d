// SPDX-License-Identifier: MIT
#include "cpu.h"

#include <sched.h>
#include <unistd.h>

namespace perf {

bool pin_to_cpu(int cpu) {
    if (cpu < 0) return true;
    cpu_set_t cpus;
    CPU_ZERO(&cpus);
    CPU_SET(cpu, &cpus);
    return ::sched_setaffinity(0, sizeof cpus, &cpus) == 0;
}

bool use_all_cpus() {
    cpu_set_t cpus;
    CPU_ZERO(&cpus);
    const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
    for (long cpu = 0; cpu < online && cpu < CPU_SETSIZE; ++cpu)
        CPU_SET(static_cast<int>(cpu), &cpus);
    return ::sched_setaffinity(0, sizeof cpus, &cpus) == 0;
}

int default_bench_cpu() {
    cpu_set_t cpus;
    CPU_ZERO(&cpus);
    if (::sched_getaffinity(0, sizeof cpus, &cpus) != 0) return -1;
    for (int cpu = CPU_SETSIZE - 1; cpu >= 0; --cpu) {
        if (CPU_ISSET(cpu, &cpus)) return cpu;
    }
    return -1;
}

}  // namespace perf
