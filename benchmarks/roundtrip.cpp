// SPDX-License-Identifier: MIT
// Round trips through libRegwire.so beside the same transfers made with raw
// libmodbus calls, on one pseudo-terminal against one benchslave, in two passes:
// master and simulator on one CPU, then placed by the scheduler; then a third
// pass over Modbus TCP to a benchslave on the loopback, on one CPU. The two sides
// take turns in blocks (Regwire holds the line exclusively while open) and
// alternate which goes first; inside a block the four operations take turns call
// by call. Drift on a busy machine thus hits every figure alike.
#include <modbus.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "regwire_library.h"
#include "slave_process.h"
#include "support/args.h"
#include "support/cpu.h"
#include "support/report.h"
#include "support/stats.h"
#include "support/wire.h"

namespace {

using support::Clock;

constexpr int kPort = 6;
constexpr int kSpeedIndex = 3;  // 38400 bit/s, the window's default
constexpr int kBaud = 38400;
constexpr int kParityIndex = 2;  // even, the window's default
constexpr int kStation = 1;
constexpr int kValues = 64;
constexpr int kWarmup = 2;
// Regwire's shortest byte timeout; its response timeout is computed below.
constexpr uint32_t kByteTimeoutUs = 20000;

enum Op { Read16, Read32, Write16, Write32, kOps };
const char* const kOpNames[kOps] = {"Get_4X_DX", "Get_4X_LDX", "Set_4X_DX", "Set_4X_LDX"};

// One side of the comparison: opens the line, makes calls, closes it.
class Side {
  public:
    virtual ~Side() = default;
    virtual bool open(std::string& error) = 0;
    virtual void close() = 0;
    // One call of `op`; false on failure (with the reason in `error`).
    virtual bool call(Op op, int sequence, std::string& error) = 0;
};

class RegwireSide : public Side {
  public:
    explicit RegwireSide(const support::RegwireLibrary& api) : api_(api) {}
    bool open(std::string& error) override {
        const int32_t rc = api_.OpenPort_Modbus(kPort, kSpeedIndex, kParityIndex);
        if (rc != 0) error = std::string("OpenPort_Modbus: ") + api_.Regwire_strerror(rc);
        return rc == 0;
    }
    void close() override { api_.ClosePort_Modbus(kPort); }
    bool call(Op op, int sequence, std::string& error) override {
        int32_t rc = 0;
        switch (op) {
            case Read16:
                rc = api_.Get_4X_DX(kPort, kStation, 0, kValues, buffer_);
                break;
            case Read32:
                rc = api_.Get_4X_LDX(kPort, kStation, 0, kValues, buffer_);
                break;
            case Write16:
                for (int i = 0; i < kValues; ++i) buffer_[i] = (sequence + i) & 0x7FFF;
                rc = api_.Set_4X_DX(kPort, kStation, 0, kValues, buffer_);
                break;
            case Write32:
                for (int i = 0; i < kValues; ++i) buffer_[i] = sequence * 65599 + i;
                rc = api_.Set_4X_LDX(kPort, kStation, 0, kValues, buffer_);
                break;
            case kOps:
                break;
        }
        if (rc != 0) error = std::string(kOpNames[op]) + ": " + api_.Regwire_strerror(rc);
        return rc == 0;
    }

  private:
    const support::RegwireLibrary& api_;
    int32_t buffer_[kValues] = {};
};

// The same transfers as Regwire makes them: one request for 64 registers, two
// (124 + 4 read, 122 + 6 written) for 64 values of 32 bits.
class RawSide : public Side {
  public:
    explicit RawSide(std::string address) : address_(std::move(address)) {}
    ~RawSide() override { close(); }
    bool open(std::string& error) override {
        const bool tcp = address_.rfind("tcp:", 0) == 0;
        ctx_ = tcp ? modbus_new_tcp("127.0.0.1",
                                    std::atoi(address_.substr(address_.rfind(':') + 1).c_str()))
                   : modbus_new_rtu(address_.c_str(), kBaud, 'E', 8, 1);
        if (ctx_ == nullptr || modbus_set_slave(ctx_, kStation) != 0 || modbus_connect(ctx_) != 0) {
            error = std::string("libmodbus: ") + modbus_strerror(errno);
            if (ctx_ != nullptr) modbus_free(ctx_);
            ctx_ = nullptr;
            return false;
        }
        // Regwire's waits for a 64-register read (libmodbus's own default is 0.5 s
        // for both): the same settings on both sides, so that only the code in
        // between differs.
        // Over TCP: the allowance and 50 ms.
        const double response_ms =
            tcp ? 150.0 : perf::response_bound_ms({8, 5 + 2 * kValues}, kBaud, 100);
        modbus_set_response_timeout(ctx_, 0, static_cast<uint32_t>(response_ms * 1000));
        modbus_set_byte_timeout(ctx_, 0, kByteTimeoutUs);
        return true;
    }
    void close() override {
        if (ctx_ == nullptr) return;
        modbus_close(ctx_);
        modbus_free(ctx_);
        ctx_ = nullptr;
    }
    bool call(Op op, int sequence, std::string& error) override {
        bool ok = false;
        switch (op) {
            case Read16:
                ok = modbus_read_registers(ctx_, 0, kValues, regs_) == kValues;
                for (int i = 0; ok && i < kValues; ++i) values_[i] = static_cast<int16_t>(regs_[i]);
                break;
            case Read32:
                ok = modbus_read_registers(ctx_, 0, 124, regs_) == 124 &&
                     modbus_read_registers(ctx_, 124, 4, regs_ + 124) == 4;
                for (int i = 0; ok && i < kValues; ++i) {
                    values_[i] = static_cast<int32_t>((static_cast<uint32_t>(regs_[2 * i]) << 16) |
                                                      regs_[2 * i + 1]);
                }
                break;
            case Write16:
                for (int i = 0; i < kValues; ++i)
                    regs_[i] = static_cast<uint16_t>((sequence + i) & 0x7FFF);
                ok = modbus_write_registers(ctx_, 0, kValues, regs_) == kValues;
                break;
            case Write32:
                for (int i = 0; i < kValues; ++i) {
                    const auto u = static_cast<uint32_t>(sequence * 65599 + i);
                    regs_[2 * i] = static_cast<uint16_t>(u >> 16);
                    regs_[2 * i + 1] = static_cast<uint16_t>(u & 0xFFFFu);
                }
                ok = modbus_write_registers(ctx_, 0, 122, regs_) == 122 &&
                     modbus_write_registers(ctx_, 122, 6, regs_ + 122) == 6;
                break;
            case kOps:
                break;
        }
        if (!ok) error = std::string("libmodbus ") + kOpNames[op] + ": " + modbus_strerror(errno);
        return ok;
    }

  private:
    std::string address_;
    modbus_t* ctx_ = nullptr;
    uint16_t regs_[2 * kValues] = {};
    int32_t values_[kValues] = {};
};

// Samples in milliseconds: [operation][block][call].
using Samples = std::vector<std::vector<double>>[kOps];

// Runs `count` timed calls of every operation on one side as one block, the
// operations taking turns call by call, after a few untimed calls of each.
bool run_block(Side& side, int count, int& sequence, Samples& samples, std::string& error) {
    if (!side.open(error)) return false;
    bool ok = true;
    std::vector<double> block[kOps];
    for (int i = -kWarmup; ok && i < count; ++i) {
        for (int op = 0; ok && op < kOps; ++op) {
            const auto began = Clock::now();
            ok = side.call(static_cast<Op>(op), ++sequence, error);
            const double ms =
                std::chrono::duration<double, std::milli>(Clock::now() - began).count();
            if (i >= 0) block[op].push_back(ms);
        }
    }
    for (int op = 0; op < kOps; ++op) samples[op].push_back(std::move(block[op]));
    side.close();
    return ok;
}

std::vector<double> flat(const std::vector<std::vector<double>>& blocks) {
    std::vector<double> all;
    for (const auto& b : blocks) all.insert(all.end(), b.begin(), b.end());
    return all;
}

std::string figure(const perf::Summary& s) {
    return perf::ms_text(s.median) + " (p99 " + perf::ms_text(s.p99) + ")";
}

std::string ratio_figure(double x) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3fx", x);
    return buf;
}

// One pass: a fresh simulator, both sides in alternating blocks, the rows.
// `cpu` >= 0 puts master and simulator on that CPU; -1 leaves them to the scheduler.
// `tcp`: the simulator listens on the loopback and both sides speak Modbus TCP.
bool measure_pass(const support::RegwireLibrary& api, long calls, long block, int cpu,
                  bool first_pass, bool tcp = false) {
    const bool pinned = cpu >= 0;
    if (!(pinned ? perf::pin_to_cpu(cpu) : perf::use_all_cpus())) {
        std::fprintf(stderr, "bench_roundtrip: cannot set the CPUs to use\n");
        return false;
    }
    support::SlaveProcess slave(support::SlaveOptions::for_timing(
        tcp ? std::vector<std::string>{"--tcp", "0"} : std::vector<std::string>{}));
    if (!slave.started()) {
        std::fprintf(stderr, "bench_roundtrip: %s\n", slave.error().c_str());
        return false;
    }
    std::string error;
    ::setenv(("REGWIRE_PORT" + std::to_string(kPort)).c_str(), slave.address().c_str(), 1);
    const std::string where = pinned ? "one CPU" : "free CPUs";
    std::printf("  pass on %s: %s%s%s\n", where.c_str(), slave.address().c_str(),
                tcp ? "" : (" at " + std::to_string(kBaud) + " 8E1").c_str(),
                pinned ? (", CPU " + std::to_string(cpu)).c_str() : "");

    RegwireSide regwire(api);
    RawSide raw(slave.address());
    Samples regwire_ms;
    Samples raw_ms;
    int sequence = 0;
    for (long done = 0, b = 0; done < calls; done += block, ++b) {
        const int n = static_cast<int>(std::min(block, calls - done));
        // Each side goes first in every other block.
        const bool ok = b % 2 == 0 ? run_block(regwire, n, sequence, regwire_ms, error) &&
                                         run_block(raw, n, sequence, raw_ms, error)
                                   : run_block(raw, n, sequence, raw_ms, error) &&
                                         run_block(regwire, n, sequence, regwire_ms, error);
        if (!ok) {
            std::fprintf(stderr, "bench_roundtrip: %s\n", error.c_str());
            return false;
        }
    }

    using perf::ms_text;
    perf::Summary r[kOps];
    perf::Summary m[kOps];
    for (int op = 0; op < kOps; ++op) {
        r[op] = perf::summarize(flat(regwire_ms[op]));
        m[op] = perf::summarize(flat(raw_ms[op]));
        std::printf(
            "  %-10s Regwire median %s p99 %s max %s | raw libmodbus median %s p99 %s max %s\n",
            kOpNames[op], ms_text(r[op].median).c_str(), ms_text(r[op].p99).c_str(),
            ms_text(r[op].max).c_str(), ms_text(m[op].median).c_str(), ms_text(m[op].p99).c_str(),
            ms_text(m[op].max).c_str());
    }

    using perf::print_row;
    const std::string on = std::string(tcp ? " (TCP, " : " (pty, ") + where + ")";
    for (Op op : {Read16, Write16}) {
        const double x = perf::paired_ratio(regwire_ms[op], raw_ms[op]);
        print_row({std::string(kOpNames[op]) + " 64 registers, per call" + on, figure(r[op]),
                   "raw libmodbus " + figure(m[op]), ratio_figure(x), "<= 1.05x",
                   perf::verdict_text(x > 0 && x <= 1.05)});
    }
    if (tcp) {
        slave.stop();
        return true;
    }
    for (Op op : {Read32, Write32}) {
        const Op base = op == Read32 ? Read16 : Write16;
        const double x = perf::paired_ratio(regwire_ms[op], regwire_ms[base]);
        print_row({std::string(kOpNames[op]) + " 64 values (2 requests), per call" + on,
                   figure(r[op]), std::string(kOpNames[base]) + " " + figure(r[base]),
                   ratio_figure(x), "<= 2.1x", perf::verdict_text(x > 0 && x <= 2.1)});
    }
    for (Op op : {Read32, Write32}) {
        // The same two requests against one from raw libmodbus: the floor of the
        // ratio above on this line and machine, whatever the library.
        const Op base = op == Read32 ? Read16 : Write16;
        const double x = perf::paired_ratio(raw_ms[op], raw_ms[base]);
        print_row({std::string("  raw libmodbus: ") + (op == Read32 ? "read" : "write") +
                       " of 2 requests beside 1" + on,
                   figure(m[op]), "1 request " + figure(m[base]), ratio_figure(x), "-", "-"});
    }
    if (first_pass) {
        for (Op op : {Read32, Write32}) {
            const double x = perf::paired_ratio(regwire_ms[op], raw_ms[op]);
            print_row(
                {std::string("  ") + kOpNames[op] + " beside raw libmodbus (2 requests each)" + on,
                 figure(r[op]), "raw libmodbus " + figure(m[op]), ratio_figure(x), "-", "-"});
        }
        const double wire16 = perf::wire_ms(perf::read_exchanges(64, 125), kBaud);
        const double wire32 = perf::wire_ms(perf::read_exchanges(128, 124), kBaud);
        print_row({"  Get_4X_DX beside the line time of a real 38400 line",
                   ms_text(r[Read16].median), "line " + ms_text(wire16),
                   perf::ratio_text(r[Read16].median, wire16), "-", "-"});
        print_row({"  Get_4X_LDX beside the line time of a real 38400 line",
                   ms_text(r[Read32].median), "line " + ms_text(wire32),
                   perf::ratio_text(r[Read32].median, wire32), "-", "-"});
    }
    slave.stop();
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    perf::Args args(argc, argv, {"--calls", "--block", "--cpu"}, {"--one-cpu-only", "--free-only"});
    const long calls = args.number("--calls", 1000);
    const long block = args.number("--block", 25);
    const long cpu = args.number("--cpu", perf::default_bench_cpu(), 0);
    if (!args.ok() || (args.flag("--one-cpu-only") && args.flag("--free-only"))) {
        std::fprintf(
            stderr,
            "bench_roundtrip: %s\nusage: bench_roundtrip [--calls N] [--block N] [--cpu N] "
            "[--one-cpu-only | --free-only]\n",
            args.ok() ? "choose one pass at most" : args.error().c_str());
        return 2;
    }
    support::RegwireLibrary api;
    if (!support::load_or_report("bench_roundtrip", api)) return 1;
    std::printf(
        "bench_roundtrip: %ld calls of each kind per side in blocks of %ld, Regwire from %s\n",
        calls, block, api.path().c_str());
    std::printf(
        "  a real line at %d bit/s takes %s for the 64-register read and %s for the 64-value "
        "32-bit "
        "read (2 requests); ratios are medians over adjacent block pairs\n",
        kBaud, perf::ms_text(perf::wire_ms(perf::read_exchanges(64, 125), kBaud)).c_str(),
        perf::ms_text(perf::wire_ms(perf::read_exchanges(128, 124), kBaud)).c_str());
    // Master and slave on one CPU: a pty round trip is then two context switches,
    // steady to a few percent. Free: the scheduler places them, as it would the
    // program and the kernel's serial driver; cross-CPU wake-ups show there.
    bool first = true;
    if (!args.flag("--free-only")) {
        if (!measure_pass(api, calls, block, static_cast<int>(cpu), first)) return 1;
        first = false;
    }
    if (!args.flag("--one-cpu-only")) {
        if (!measure_pass(api, calls, block, -1, first)) return 1;
    }
    // Modbus TCP on the loopback, master and simulator on one CPU (free CPUs with
    // --free-only).
    const int tcp_cpu = args.flag("--free-only") ? -1 : static_cast<int>(cpu);
    if (!measure_pass(api, calls, block, tcp_cpu, false, true)) return 1;
    return 0;
}
