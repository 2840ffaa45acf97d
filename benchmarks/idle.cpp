// SPDX-License-Identifier: MIT
// CPU used by an idle wordbench (only the write-grid timer running, as after
// start-up) beside a bare Qt window, both started offscreen at the same time and
// watched over the same seconds: utime + stime from /proc/<pid>/stat, and the
// scheduler's nanosecond account of all threads beside it.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "process.h"
#include "support/args.h"
#include "support/gui.h"
#include "support/proc.h"
#include "support/report.h"

namespace {

using support::Clock;
using namespace std::chrono_literals;

struct Watched {
    const char* name;
    std::unique_ptr<support::Child> child;
    long long ticks_before = 0;
    long long ticks_after = 0;
    long long ns_before = 0;
    long long ns_after = 0;
};

}  // namespace

int main(int argc, char** argv) {
    perf::Args args(argc, argv, {"--seconds"}, {});
    const long seconds = args.number("--seconds", 60);
    if (!args.ok()) {
        std::fprintf(stderr, "bench_idle: %s\nusage: bench_idle [--seconds N]\n",
                     args.error().c_str());
        return 2;
    }
    perf::RuntimeDir runtime;
    if (runtime.path().empty()) {
        std::fprintf(stderr, "bench_idle: cannot make a runtime folder\n");
        return 1;
    }
    Watched programs[2] = {{"wordbench", nullptr}, {"bare window", nullptr}};
    const char* paths[2] = {WORDBENCH_PATH, BARE_WINDOW_PATH};
    for (int i = 0; i < 2; ++i) {
        std::string error;
        programs[i].child =
            support::Child::spawn(perf::offscreen_program({paths[i]}, runtime.path()), error);
        if (!programs[i].child) {
            std::fprintf(stderr, "bench_idle: %s: %s\n", programs[i].name, error.c_str());
            return 1;
        }
    }
    // Shown, then settled: start-up is not idleness.
    for (Watched& w : programs) {
        if (!w.child->await_stderr(perf::kWindowShownCategory, Clock::now() + 30s) ||
            !perf::wait_quiet(w.child->pid(), 500ms, Clock::now() + 30s)) {
            std::fprintf(stderr, "bench_idle: %s did not show its window and settle\n", w.name);
            return 1;
        }
    }
    const auto began = Clock::now();
    for (Watched& w : programs) {
        w.ticks_before = perf::cpu_ticks(w.child->pid()).value_or(-1);
        w.ns_before = perf::cpu_ns(w.child->pid()).value_or(-1);
    }
    const auto end = began + std::chrono::seconds(seconds);
    while (Clock::now() < end) {
        std::this_thread::sleep_for(std::min<Clock::duration>(1s, end - Clock::now()));
        for (Watched& w : programs) {
            w.child->drain();
            if (w.child->exited()) {
                std::fprintf(stderr, "bench_idle: %s ended while idle\n", w.name);
                return 1;
            }
        }
    }
    for (Watched& w : programs) {
        w.ticks_after = perf::cpu_ticks(w.child->pid()).value_or(-1);
        w.ns_after = perf::cpu_ns(w.child->pid()).value_or(-1);
    }
    const double wall = std::chrono::duration<double>(Clock::now() - began).count();
    double percent[2];
    double fine[2];
    for (int i = 0; i < 2; ++i) {
        const Watched& w = programs[i];
        if (w.ticks_before < 0 || w.ticks_after < 0) {
            std::fprintf(stderr, "bench_idle: cannot read the CPU time of %s\n", w.name);
            return 1;
        }
        const double cpu_s = static_cast<double>(w.ticks_after - w.ticks_before) /
                             static_cast<double>(perf::ticks_per_second());
        percent[i] = 100.0 * cpu_s / wall;
        fine[i] = w.ns_before >= 0 && w.ns_after >= 0
                      ? 100.0 * static_cast<double>(w.ns_after - w.ns_before) / 1e9 / wall
                      : -1;
        std::printf(
            "  %-11s %.2f s of CPU in %.1f s (clock ticks): %.3f %% of one core; "
            "scheduler account: %.4f %%\n",
            w.name, cpu_s, wall, percent[i], fine[i]);
        w.child->stop();
    }
    char figure[64];
    char comparison[64];
    char measurement[96];
    std::snprintf(figure, sizeof figure, "%.3f %% of a core (finer: %.4f %%)", percent[0], fine[0]);
    std::snprintf(comparison, sizeof comparison, "bare window %.3f %% (finer: %.4f %%)", percent[1],
                  fine[1]);
    std::snprintf(measurement, sizeof measurement, "idle wordbench CPU over %ld s (Timer2 only)",
                  seconds);
    perf::print_row({measurement, figure, comparison, perf::ratio_text(fine[0], fine[1]),
                     "< 0.5 % of a core", perf::verdict_text(std::max(percent[0], fine[0]) < 0.5)});
    return 0;
}
