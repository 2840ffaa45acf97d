// SPDX-License-Identifier: MIT
// How long a read of 64 registers holds its caller when the slave stays silent,
// at 9600, 38400 and 115200 bit/s, beside the bound Regwire promises: request and
// reply on the line plus the turnaround allowance. Also: the first successful
// read after a failure, which Regwire follows with a watch for a stale reply, and
// what libmodbus's and mbpoll's default timeouts would cost instead.
#include <modbus.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "benchslave/fault_addresses.h"
#include "process.h"
#include "regwire_library.h"
#include "slave_process.h"
#include "support/args.h"
#include "support/cpu.h"
#include "support/report.h"
#include "support/stats.h"
#include "support/wire.h"

namespace {

using support::Clock;

constexpr int kSilentPort = 6;  // a slave that never answers
constexpr int kCleanPort = 7;   // a slave that answers, except at register 60001
constexpr int32_t kTimeout = -4;
constexpr int kSpeedIndexes[] = {1, 3, 5};

// The allowance Regwire reads at open: REGWIRE_TURNAROUND_MS, else 100 ms.
double turnaround_ms() {
    const char* text = std::getenv("REGWIRE_TURNAROUND_MS");
    if (text == nullptr || *text == '\0') return 100;
    char* end = nullptr;
    const long ms = std::strtol(text, &end, 10);
    return *end != '\0' || ms < 0 || ms > 60000 ? 100 : static_cast<double>(ms);
}

double since_ms(Clock::time_point began) {
    return std::chrono::duration<double, std::milli>(Clock::now() - began).count();
}

struct Timed {
    int32_t rc = 0;
    double ms = 0;
};

Timed read64(const support::RegwireLibrary& api, int port, int start) {
    int32_t buffer[64];
    const auto began = Clock::now();
    const int32_t rc = api.Get_4X_DX(port, 1, start, 64, buffer);
    return {rc, since_ms(began)};
}

bool expect(const char* what, int32_t got, int32_t wanted, const support::RegwireLibrary& api) {
    if (got == wanted) return true;
    std::fprintf(stderr, "bench_silent: %s gave %s, expected %s\n", what, api.Regwire_strerror(got),
                 api.Regwire_strerror(wanted));
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    perf::Args args(argc, argv, {"--calls", "--cpu"}, {});
    const long calls = args.number("--calls", 5);
    const long cpu = args.number("--cpu", perf::default_bench_cpu(), -1);
    if (!args.ok()) {
        std::fprintf(stderr, "bench_silent: %s\nusage: bench_silent [--calls N] [--cpu N|-1]\n",
                     args.error().c_str());
        return 2;
    }
    if (!perf::pin_to_cpu(static_cast<int>(cpu))) {
        std::fprintf(stderr, "bench_silent: cannot use CPU %ld\n", cpu);
        return 1;
    }
    support::SlaveProcess silent(support::SlaveOptions::for_timing({"--no-reply-every", "1"}));
    std::optional<support::SlaveProcess> clean;
    if (silent.started()) clean.emplace(support::SlaveOptions::for_timing({}));
    if (!clean || !clean->started()) {
        std::fprintf(stderr, "bench_silent: %s\n",
                     (clean ? clean->error() : silent.error()).c_str());
        return 1;
    }
    ::setenv(("REGWIRE_PORT" + std::to_string(kSilentPort)).c_str(), silent.address().c_str(), 1);
    ::setenv(("REGWIRE_PORT" + std::to_string(kCleanPort)).c_str(), clean->address().c_str(), 1);
    support::RegwireLibrary api;
    if (!support::load_or_report("bench_silent", api)) return 1;
    const double turnaround = turnaround_ms();
    std::printf(
        "bench_silent: %ld calls per case, turnaround allowance %.0f ms, silent slave on %s "
        "(--no-reply-every 1), answering slave on %s\n",
        calls, turnaround, silent.address().c_str(), clean->address().c_str());

    using perf::ms_text;
    const perf::Exchange read{8, 5 + 2 * 64};
    double blocked_38400 = 0;
    for (int speed : kSpeedIndexes) {
        const int baud = perf::kSpeeds[speed];
        const double bound = perf::response_bound_ms(read, baud, turnaround);

        // The failed call itself.
        if (!expect("OpenPort_Modbus", api.OpenPort_Modbus(kSilentPort, speed, 2), 0, api))
            return 1;
        std::vector<double> failed;
        for (long i = 0; i < calls; ++i) {
            const Timed t = read64(api, kSilentPort, 0);
            if (!expect("a read from the silent slave", t.rc, kTimeout, api)) return 1;
            failed.push_back(t.ms);
        }
        api.ClosePort_Modbus(kSilentPort);

        // A read that fails (a range ending at register 60001 is never answered; the
        // next magic registers, which would delay the slave, stay outside it), then
        // two that succeed: the first carries the stale-reply watch, the second is an
        // ordinary read.
        if (!expect("OpenPort_Modbus", api.OpenPort_Modbus(kCleanPort, speed, 2), 0, api)) return 1;
        std::vector<double> after_failure;
        std::vector<double> ordinary;
        for (long i = 0; i < calls; ++i) {
            if (!expect("a read of register 60001",
                        read64(api, kCleanPort, benchslave::kMagicNoReply - 63).rc, kTimeout, api))
                return 1;
            const Timed first = read64(api, kCleanPort, 0);
            const Timed second = read64(api, kCleanPort, 0);
            if (!expect("the read after a failure", first.rc, 0, api) ||
                !expect("the read after that", second.rc, 0, api)) {
                return 1;
            }
            after_failure.push_back(first.ms);
            ordinary.push_back(second.ms);
        }
        api.ClosePort_Modbus(kCleanPort);

        const auto f = perf::summarize(failed);
        const auto a = perf::summarize(after_failure);
        const auto o = perf::summarize(ordinary);
        if (baud == 38400) blocked_38400 = f.max;
        const double watch = perf::response_bound_ms({0, read.reply_bytes}, baud, turnaround);
        std::printf(
            "  %6d bit/s: failed read median %s max %s, bound %s | after a failure %s "
            "(watch %s), ordinary %s\n",
            baud, ms_text(f.median).c_str(), ms_text(f.max).c_str(), ms_text(bound).c_str(),
            ms_text(a.median).c_str(), ms_text(watch).c_str(), ms_text(o.median).c_str());
        const std::string at = " at " + std::to_string(baud);
        perf::print_row({"silent slave: 64-register read blocks" + at + " (worst)",
                         ms_text(f.max) + " (median " + ms_text(f.median) + ")",
                         "bound " + ms_text(bound), perf::ratio_text(f.max, bound), "<= 1.1x",
                         perf::verdict_text(f.max <= 1.1 * bound)});
        perf::print_row({"first successful read after a failure" + at, ms_text(a.median),
                         "ordinary read " + ms_text(o.median), perf::ratio_text(a.median, o.median),
                         "-", "-"});
    }

    // libmodbus left at its defaults (0.5 s) on the silent slave.
    std::vector<double> libmodbus_ms;
    modbus_t* ctx = modbus_new_rtu(silent.address().c_str(), 38400, 'E', 8, 1);
    if (ctx == nullptr || modbus_set_slave(ctx, 1) != 0 || modbus_connect(ctx) != 0) {
        std::fprintf(stderr, "bench_silent: libmodbus: %s\n", modbus_strerror(errno));
        return 1;
    }
    uint16_t regs[64];
    for (long i = 0; i < (calls < 2 ? calls : 2); ++i) {
        const auto began = Clock::now();
        const int rc = modbus_read_registers(ctx, 0, 64, regs);
        libmodbus_ms.push_back(since_ms(began));
        if (rc != -1) {
            std::fprintf(stderr, "bench_silent: the silent slave answered libmodbus\n");
            return 1;
        }
    }
    modbus_close(ctx);
    modbus_free(ctx);
    const auto l = perf::summarize(libmodbus_ms);
    perf::print_row({"silent slave: raw libmodbus with its default timeout, 38400",
                     ms_text(l.median), "Regwire " + ms_text(blocked_38400),
                     perf::ratio_text(l.median, blocked_38400), "-", "-"});

    // mbpoll with its default timeout (1 s): one read, exec to exit.
    if (support::on_path("mbpoll")) {
        support::SpawnOptions options;
        options.argv = {"mbpoll", "-m", "rtu", "-b", "38400", "-P", "even", "-a",
                        "1",      "-0", "-r",  "0",  "-c",    "64", "-1",   silent.address()};
        options.capture_stdout = false;
        options.capture_stderr = true;
        const auto r = support::run_to_end(options, std::chrono::seconds(30));
        if (!r.finished || r.err.find("timed out") == std::string::npos) {
            std::fprintf(stderr, "bench_silent: mbpoll did not time out: %s\n", r.err.c_str());
            return 1;
        }
        perf::print_row({"silent slave: mbpoll with its default timeout (process)",
                         ms_text(r.seconds * 1000), "Regwire " + ms_text(blocked_38400),
                         perf::ratio_text(r.seconds * 1000, blocked_38400), "-", "-"});
    }
    silent.stop();
    clean->stop();
    return 0;
}
