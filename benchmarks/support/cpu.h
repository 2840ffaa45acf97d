// SPDX-License-Identifier: MIT
// Which CPUs a benchmark and the children it starts run on.
#pragma once

namespace perf {

// Keeps this process (and the children it starts later) on one CPU; false if the
// CPU cannot be used.
bool pin_to_cpu(int cpu);
// Lets this process (and the children it starts later) run on every online CPU again.
bool use_all_cpus();
// The CPU the line benchmarks put master and slave on: the last one this
// process may use; -1 if that cannot be told.
int default_bench_cpu();

}  // namespace perf
