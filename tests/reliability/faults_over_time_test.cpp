// SPDX-License-Identifier: MIT
// Thousands of reads and writes through Regwire against benchslave while it drops
// replies, corrupts them, answers with exceptions and answers late, every Nth
// request for co-prime N. Every call that succeeds must agree with a model of the
// registers written, whatever faults came before it, and the process must not
// gain descriptors or memory along the way.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "open_slave.h"
#include "process_figures.h"
#include "regwire.h"
#include "slave_process.h"
#include "transfer_call.h"

namespace {

using support::ScopedEnv;
using Clock = std::chrono::steady_clock;

constexpr int kPort = 12;
constexpr int kStation = 1;
constexpr int kSpeed921600 = 8;
constexpr int kRegion = 4096;  // registers 0..4095, far from the simulator's magic ones
constexpr int kGuardLength = 4;
constexpr int32_t kGuard = -0x3C5A1E0F;
constexpr int kExceptionCode = 6;
constexpr int kShapesRemembered = 8;

using reliability::Call;
using reliability::chunks;
using reliability::is_read;
using reliability::Op;
using reliability::width;

// How a request looks to a master matching replies to it: a read reply by its
// length, a write echo by address and length. A late reply can only pass for a
// request of the same shape, so calls avoid the shapes of the requests just before
// them; then any success must be the answer to its own request.
struct Shape {
    int function = 0;
    int start = 0;
    int count = 0;
    bool operator==(const Shape&) const = default;
};

int shapes_of(const Call& c, std::array<Shape, 2>& out) {
    int n = 0;
    for (const reliability::Chunk& chunk : chunks(c)) {
        out[static_cast<std::size_t>(n++)] =
            is_read(c.op) ? Shape{3, 0, chunk.count} : Shape{16, chunk.start, chunk.count};
    }
    return n;
}

int32_t invoke(const Call& c, int32_t* buffer) {
    return reliability::invoke(kPort, kStation, c, buffer);
}

// What each register may hold: its last known value, and the values of writes that
// failed since (the simulator may or may not have carried them out).
class Model {
  public:
    // Room for a few failed writes per register up front, so that the test's own
    // allocations do not show in the memory figures.
    Model() : known_(kRegion, 0), maybe_(kRegion) {
        for (auto& m : maybe_) m.reserve(8);
    }

    void written(int reg, std::uint16_t v) {
        known_[static_cast<std::size_t>(reg)] = v;
        maybe_[static_cast<std::size_t>(reg)].clear();
    }
    void perhaps_written(int reg, std::uint16_t v) {
        maybe_[static_cast<std::size_t>(reg)].push_back(v);
    }
    // A read value: true if the model allows it; the register is then known.
    bool read(int reg, std::uint16_t v) {
        auto& maybe = maybe_[static_cast<std::size_t>(reg)];
        const bool allowed = v == known_[static_cast<std::size_t>(reg)] ||
                             std::find(maybe.begin(), maybe.end(), v) != maybe.end();
        written(reg, v);
        return allowed;
    }
    std::uint16_t known(int reg) const { return known_[static_cast<std::size_t>(reg)]; }

  private:
    std::vector<std::uint16_t> known_;
    std::vector<std::vector<std::uint16_t>> maybe_;
};

#if defined(__SANITIZE_ADDRESS__)
// AddressSanitizer keeps freed memory resident in its quarantine, so resident memory
// grows without a leak in that build; leaks there are LeakSanitizer's to find.
constexpr bool kResidentMemoryShowsLeaks = false;
#else
constexpr bool kResidentMemoryShowsLeaks = true;
#endif

TEST(ReliabilityFaultsOverTime, SuccessesAgreeWithTheModelAndNothingLeaks) {
    const long calls = reliability::scaled(1000, 10000);
    const std::uint64_t seed = reliability::seed_or(20240613);
    const long warm_up = std::max(100L, calls / 10);
    // An allowance that holds on a busy machine (this test is about what comes back,
    // not how fast). Co-prime periods, so that the faults meet in every combination;
    // the delay (200 ms) is well past the master's timeout (100 ms and the line time).
    ScopedEnv turnaround("REGWIRE_TURNAROUND_MS", "100");
    // No reply comes later than this after its request, so that a request without
    // one stops being awaited soon.
    ScopedEnv horizon("REGWIRE_TURNAROUND_MAX_MS", "400");
    support::SlaveProcess slave(
        {"--station", std::to_string(kStation), "--no-reply-every", "7", "--bad-crc-every", "11",
         "--exception", std::to_string(kExceptionCode), "--exception-every", "13", "--delay-ms",
         "200", "--delay-every", "17"},
        kPort);
    ASSERT_TRUE(slave.started()) << slave.error();

    const int fds_start = reliability::open_descriptors();
    ASSERT_EQ(OpenPort_Modbus(kPort, kSpeed921600, 0), REGWIRE_OK);

    std::mt19937_64 rng(seed);
    Model model;
    std::array<Shape, kShapesRemembered> recent{};
    std::size_t recent_next = 0;
    std::array<int32_t, 125 + 2 * kGuardLength> buf{};
    std::array<int32_t, 125 + 2 * kGuardLength> before{};
    std::map<int32_t, long> results;
    long failures = 0;
    long streak = 0;
    long longest_streak = 0;
    int fds_warm = -1;
    long rss_warm = -1;
    const auto began = Clock::now();

    for (long i = 0; i < calls && failures < 10; ++i) {
        if (i == warm_up) {
            fds_warm = reliability::open_descriptors();
            rss_warm = reliability::resident_kib();
        }
        if (i > 0 && i % 250 == 0) {
            // A new session now and then: close and open again.
            ASSERT_EQ(ClosePort_Modbus(kPort), REGWIRE_OK);
            ASSERT_EQ(OpenPort_Modbus(kPort, kSpeed921600, 0), REGWIRE_OK);
        }

        // A call whose requests differ in shape from the recent ones.
        Call c{};
        std::array<Shape, 2> shapes{};
        int n_shapes = 0;
        for (;;) {
            c.op = static_cast<Op>(rng() % 4);
            const int most = width(c.op) == 1 ? 125 : 64;
            c.count = 1 + static_cast<int>(rng() % static_cast<unsigned>(most));
            const int registers = c.count * width(c.op);
            c.start = static_cast<int>(rng() % static_cast<unsigned>(kRegion - registers + 1));
            n_shapes = shapes_of(c, shapes);
            bool fresh = true;
            for (int k = 0; k < n_shapes; ++k) {
                fresh = fresh && std::find(recent.begin(), recent.end(),
                                           shapes[static_cast<std::size_t>(k)]) == recent.end();
            }
            if (fresh) break;
        }
        for (int k = 0; k < n_shapes; ++k) {
            recent[recent_next++ % recent.size()] = shapes[static_cast<std::size_t>(k)];
        }

        const std::size_t length = static_cast<std::size_t>(c.count + 2 * kGuardLength);
        for (std::size_t k = 0; k < length; ++k) {
            const bool guard = k < kGuardLength || k >= length - kGuardLength;
            buf[k] = guard                 ? kGuard + static_cast<int32_t>(k)
                     : c.op == Op::WriteDX ? static_cast<int32_t>(rng() % 98304u) - 32768
                                           : static_cast<int32_t>(rng());
        }
        before = buf;
        int32_t* values = buf.data() + kGuardLength;
        const int32_t rc = invoke(c, values);
        ++results[rc];
        // Nothing was sent: a caller tries again a little later.
        if (rc == REGWIRE_EPENDING) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        streak = rc == REGWIRE_OK ? 0 : streak + 1;
        longest_streak = std::max(longest_streak, streak);

        bool good = true;
        auto fail = [&](const char* what) {
            ADD_FAILURE() << what << ": call " << i << " op " << static_cast<int>(c.op) << " start "
                          << c.start << " count " << c.count << " gave " << rc << " ("
                          << Regwire_strerror(rc) << ")";
            good = false;
        };
        for (std::size_t k = 0; k < length; ++k) {
            const bool guard = k < kGuardLength || k >= length - kGuardLength;
            if (guard && buf[k] != before[k]) fail("wrote outside the buffer");
        }
        // Not sent (REGWIRE_EPENDING): a widened read may have taken this call's shape.
        const bool expected = rc == REGWIRE_OK || rc == REGWIRE_ETIMEOUT || rc == REGWIRE_ECRC ||
                              rc == REGWIRE_EIO || rc == REGWIRE_EPENDING ||
                              rc == REGWIRE_EXCEPTION_BASE - kExceptionCode;
        if (!expected) fail("a result no injected fault explains");
        if ((rc != REGWIRE_OK || !is_read(c.op)) &&
            !std::equal(buf.begin(), buf.begin() + static_cast<long>(length), before.begin())) {
            fail("the buffer changed");
        }

        // The model: what a write may have done, what a read must show.
        int mismatch = -1;
        std::uint16_t mismatch_read = 0;
        std::uint16_t mismatch_known = 0;
        for (int k = 0; k < c.count; ++k) {
            const auto u = static_cast<std::uint32_t>(values[k]);
            std::array<std::uint16_t, 2> regs{};
            if (width(c.op) == 1) {
                regs[0] = static_cast<std::uint16_t>(u & 0xFFFFu);
            } else {
                regs = {static_cast<std::uint16_t>(u >> 16),
                        static_cast<std::uint16_t>(u & 0xFFFFu)};
            }
            for (int w = 0; w < width(c.op); ++w) {
                const int reg = c.start + k * width(c.op) + w;
                const std::uint16_t v = regs[static_cast<std::size_t>(w)];
                if (!is_read(c.op)) {
                    if (rc == REGWIRE_OK) {
                        model.written(reg, v);
                    } else {
                        model.perhaps_written(reg, v);
                    }
                } else if (rc == REGWIRE_OK) {
                    const std::uint16_t was = model.known(reg);
                    if (!model.read(reg, v) && mismatch < 0) {
                        mismatch = reg;
                        mismatch_read = v;
                        mismatch_known = was;
                    }
                }
            }
        }
        if (mismatch >= 0) {
            fail("a read does not match the registers written");
            std::printf("  register %d read %u, last known %u\n", mismatch, mismatch_read,
                        mismatch_known);
        }
        if (!good) ++failures;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - began).count();
    const int fds_end = reliability::open_descriptors();
    const long rss_end = reliability::resident_kib();
    ASSERT_EQ(ClosePort_Modbus(kPort), REGWIRE_OK);
    const int fds_closed = reliability::open_descriptors();
    const support::Counters counters = slave.stop();

    EXPECT_EQ(failures, 0);
    EXPECT_EQ(fds_closed, fds_start)
        << "descriptors before the port was opened and after it was closed";
    EXPECT_EQ(fds_end, fds_warm) << "descriptors with the port open";
    if (kResidentMemoryShowsLeaks) {
        EXPECT_LT(rss_end - rss_warm, 2048) << "resident memory grew after the warm-up";
    }
    // The line keeps recovering: a late reply costs the calls it overlaps (about
    // 40 % of calls fail with these periods), not the rest of the run.
    EXPECT_GT(results[REGWIRE_OK], calls / 5);
    auto counter = [&](const char* key) {
        const auto it = counters.find(key);
        return it == counters.end() ? -1L : it->second;
    };
    EXPECT_GT(counter("faults_no_reply"), 0);
    EXPECT_GT(counter("faults_bad_crc"), 0);
    EXPECT_GT(counter("faults_exception"), 0);
    EXPECT_GT(counter("faults_delay"), 0);

    std::printf(
        "faults over time: seed %llu, %ld calls, %ld requests seen by the simulator, %.1f s\n",
        static_cast<unsigned long long>(seed), calls, counter("requests"), seconds);
    std::printf(
        "  simulator: fc03 %ld, fc16 %ld, faults: no reply %ld, bad CRC %ld, exception %ld, "
        "delay %ld\n",
        counter("fc03"), counter("fc16"), counter("faults_no_reply"), counter("faults_bad_crc"),
        counter("faults_exception"), counter("faults_delay"));
    for (const auto& [rc, n] : results) {
        std::printf("  result %5d %-38s %6ld\n", rc, Regwire_strerror(rc), n);
    }
    std::printf("  longest run of failed calls %ld\n", longest_streak);
    std::printf("  descriptors: before open %d, after warm-up %d, at end %d, after close %d\n",
                fds_start, fds_warm, fds_end, fds_closed);
    std::printf(
        "  resident memory: after warm-up (%ld calls) %ld KiB, at end %ld KiB, growth %ld KiB\n",
        warm_up, rss_warm, rss_end, rss_end - rss_warm);
}

}  // namespace
