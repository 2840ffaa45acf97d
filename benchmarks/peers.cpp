// SPDX-License-Identifier: MIT
// The 64-register read of the read tick made by Regwire, by mbpoll and by a
// pymodbus client, in turns on one pseudo-terminal against one benchslave.
//
// mbpoll is timed without its start-up: one process reads once, another reads K
// times (an address list naming station 1 K times makes it poll K times without
// its poll-rate pause), and the difference over K - 1 is the time of one read,
// printing included. The one-read run is the median of five. pymodbus times each read itself in one
// long-lived process.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "process.h"
#include "regwire_library.h"
#include "slave_process.h"
#include "support/args.h"
#include "support/cpu.h"
#include "support/report.h"
#include "support/stats.h"

namespace {

using support::Clock;

constexpr int kPort = 6;

struct Outcome {
    bool ok = true;
    std::string why;  // when not ok
};

Outcome regwire_reads(const support::RegwireLibrary& api, int count, std::vector<double>& samples) {
    int32_t rc = api.OpenPort_Modbus(kPort, 3, 2);  // 38400, even
    if (rc != 0) return {false, std::string("OpenPort_Modbus: ") + api.Regwire_strerror(rc)};
    int32_t buffer[64];
    for (int i = 0; i < count + 3 && rc == 0; ++i) {
        const auto began = Clock::now();
        rc = api.Get_4X_DX(kPort, 1, 0, 64, buffer);
        const double took = std::chrono::duration<double, std::milli>(Clock::now() - began).count();
        if (i >= 3) samples.push_back(took);
    }
    api.ClosePort_Modbus(kPort);
    if (rc != 0) return {false, std::string("Get_4X_DX: ") + api.Regwire_strerror(rc)};
    return {};
}

support::RunResult mbpoll(const std::string& pts, int reads) {
    std::string stations = "1";
    for (int i = 1; i < reads; ++i) stations += ",1";
    support::SpawnOptions options;
    options.argv = {"mbpoll", "-m", "rtu", "-b", "38400", "-P", "even", "-a", stations,
                    "-0",     "-r", "0",   "-c", "64",    "-1", "-o",   "1",  pts};
    options.capture_stdout = false;  // the values, printed to /dev/null
    options.capture_stderr = true;   // where it reports failed reads
    return support::run_to_end(options, std::chrono::seconds(60));
}

// One estimate of mbpoll's time per read, in milliseconds.
Outcome mbpoll_read(const std::string& pts, int reads, std::vector<double>& estimates) {
    std::vector<double> once;
    for (int i = 0; i < 5; ++i) {
        const auto r = mbpoll(pts, 1);
        if (!r.finished || r.exit_code != 0 || !r.err.empty()) return {false, "mbpoll: " + r.err};
        once.push_back(r.seconds * 1000.0);
    }
    const auto many = mbpoll(pts, reads);
    if (!many.finished || many.exit_code != 0 || !many.err.empty())
        return {false, "mbpoll: " + many.err};
    estimates.push_back((many.seconds * 1000.0 - perf::summarize(once).median) / (reads - 1));
    return {};
}

Outcome pymodbus_reads(const std::string& pts, int reads, std::vector<double>& samples) {
    support::SpawnOptions options;
    options.argv = {"/usr/bin/python3", PYMODBUS_SCRIPT, pts, std::to_string(reads)};
    options.capture_stderr = true;
    const auto r = support::run_to_end(options, std::chrono::seconds(120));
    if (!r.finished || r.exit_code != 0)
        return {false, r.err.empty() ? "pymodbus client failed" : r.err};
    std::istringstream lines(r.out);
    int got = 0;
    for (double ms = 0; lines >> ms; ++got) samples.push_back(ms);
    if (got != reads) return {false, "pymodbus client printed " + std::to_string(got) + " times"};
    return {};
}

bool python_has_pymodbus() {
    support::SpawnOptions options;
    options.argv = {"/usr/bin/python3", "-c", "import pymodbus.client"};
    const auto r = support::run_to_end(options, std::chrono::seconds(30));
    return r.finished && r.exit_code == 0;
}

// One pass with a fresh simulator: every master in turn, `rounds` times, then the
// rows. `cpu` >= 0 puts everything on that CPU; -1 leaves it to the scheduler.
bool measure_pass(const support::RegwireLibrary& api, long calls, long rounds, int cpu,
                  bool have_mbpoll, bool have_pymodbus) {
    const bool pinned = cpu >= 0;
    if (!(pinned ? perf::pin_to_cpu(cpu) : perf::use_all_cpus())) {
        std::fprintf(stderr, "bench_peers: cannot set the CPUs to use\n");
        return false;
    }
    support::SlaveProcess slave(support::SlaveOptions::for_timing({}));
    if (!slave.started()) {
        std::fprintf(stderr, "bench_peers: %s\n", slave.error().c_str());
        return false;
    }
    ::setenv(("REGWIRE_PORT" + std::to_string(kPort)).c_str(), slave.address().c_str(), 1);
    const std::string where = pinned ? "one CPU" : "free CPUs";
    std::printf("  pass on %s: %s at 38400\n", where.c_str(), slave.address().c_str());

    std::vector<double> regwire_ms;
    std::vector<double> mbpoll_ms;
    std::vector<double> pymodbus_ms;
    const int n = static_cast<int>(calls);
    for (long round = 0; round < rounds; ++round) {
        // Each master goes first in turn.
        for (long k = 0; k < 3; ++k) {
            Outcome o;
            switch ((round + k) % 3) {
                case 0:
                    o = regwire_reads(api, n, regwire_ms);
                    break;
                // Four times the reads: the noise of a process start, spread thinner.
                case 1:
                    if (have_mbpoll) o = mbpoll_read(slave.address(), 4 * n, mbpoll_ms);
                    break;
                default:
                    if (have_pymodbus) o = pymodbus_reads(slave.address(), n, pymodbus_ms);
                    break;
            }
            if (!o.ok) {
                std::fprintf(stderr, "bench_peers: %s\n", o.why.c_str());
                return false;
            }
        }
    }

    using perf::ms_text;
    const auto r = perf::summarize(regwire_ms);
    const auto m = perf::summarize(mbpoll_ms);
    const auto p = perf::summarize(pymodbus_ms);
    std::printf("  Regwire   median %s p99 %s\n", ms_text(r.median).c_str(),
                ms_text(r.p99).c_str());
    if (have_mbpoll) {
        std::printf("  mbpoll    per read %s (median of %zu estimates, %s .. %s)\n",
                    ms_text(m.median).c_str(), m.count, ms_text(m.min).c_str(),
                    ms_text(m.max).c_str());
    }
    if (have_pymodbus) {
        std::printf("  pymodbus  median %s p99 %s (parity N: pyserial refuses E on a pty)\n",
                    ms_text(p.median).c_str(), ms_text(p.p99).c_str());
    }

    const std::string figure = ms_text(r.median) + " (p99 " + ms_text(r.p99) + ")";
    const auto row = [&](const std::string& who, bool have, double theirs,
                         const std::string& shown) {
        const std::string what = "64-register read: Regwire beside " + who + " (" + where + ")";
        if (!have) {
            perf::print_row(
                {what, figure, who + " not installed", "-", "< 1x (faster)", "skipped"});
            return;
        }
        perf::print_row({what, figure, who + " " + shown, perf::ratio_text(r.median, theirs),
                         "< 1x (faster)", perf::verdict_text(theirs > 0 && r.median < theirs)});
    };
    row("mbpoll", have_mbpoll, m.median, ms_text(m.median) + " per read");
    row("pymodbus", have_pymodbus, p.median, ms_text(p.median) + " (p99 " + ms_text(p.p99) + ")");
    slave.stop();
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    perf::Args args(argc, argv, {"--calls", "--rounds", "--cpu"},
                    {"--one-cpu-only", "--free-only"});
    const long calls = args.number("--calls", 500, 2);
    const long rounds = args.number("--rounds", 3);
    const long cpu = args.number("--cpu", perf::default_bench_cpu(), 0);
    if (!args.ok() || (args.flag("--one-cpu-only") && args.flag("--free-only"))) {
        std::fprintf(stderr,
                     "bench_peers: %s\nusage: bench_peers [--calls N>=2] [--rounds N] [--cpu N] "
                     "[--one-cpu-only | --free-only]\n",
                     args.ok() ? "choose one pass at most" : args.error().c_str());
        return 2;
    }
    support::RegwireLibrary api;
    if (!support::load_or_report("bench_peers", api)) return 1;
    const bool have_mbpoll = support::on_path("mbpoll");
    const bool have_pymodbus = python_has_pymodbus();
    std::printf("bench_peers: %ld rounds of %ld reads of 64 registers per master\n", rounds, calls);
    bool ok = true;
    if (!args.flag("--free-only")) {
        ok = measure_pass(api, calls, rounds, static_cast<int>(cpu), have_mbpoll, have_pymodbus);
    }
    if (ok && !args.flag("--one-cpu-only"))
        ok = measure_pass(api, calls, rounds, -1, have_mbpoll, have_pymodbus);
    return ok ? 0 : 1;
}
