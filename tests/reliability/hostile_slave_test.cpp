// SPDX-License-Identifier: MIT
// Regwire against a slave that answers in every wrong way we could think of.
// Whatever comes back, a call never writes outside the caller's buffer, leaves
// the buffer exactly as it was when it fails, and reports success only for the
// answer to its own request: a read then holds exactly the slave's registers, a
// write has reached the slave's table.
#include "hostile_slave.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "open_slave.h"
#include "process_figures.h"
#include "regwire.h"
#include "transfer_call.h"

namespace {

using reliability::Answer;
using reliability::HostileSlave;
using reliability::Served;
using reliability::Step;
using support::ScopedEnv;
using Clock = std::chrono::steady_clock;

constexpr int kPort = 11;
constexpr int kStation = 17;
constexpr int kSpeed921600 = 8;
// An allowance that holds on a busy machine: these tests are about what comes back,
// not about how fast.
constexpr int kTurnaroundMs = 100;
constexpr int kGuardLength = 4;
constexpr int32_t kGuard = 0x5A17C3E1;
// A result that is any failure the line can give (not REGWIRE_OK).
constexpr int32_t kAnyFailure = 1;
// Success, or nothing sent (REGWIRE_EPENDING) when the wait for an earlier
// request's horizon would be longer than the request's timeout.
constexpr int32_t kDoneOrPending = 2;
// The timeout, or the late reply itself when the master looked only after it came
// (a busy machine); run() checks that a success holds this request's values.
constexpr int32_t kTimeoutOrLateReply = 3;

using reliability::Call;
using reliability::Chunk;
using reliability::chunks;
using reliability::describe;
using reliability::is_read;
using reliability::kOps;
using reliability::Op;
using reliability::op_name;
using reliability::width;

int32_t invoke(const Call& c, int32_t* buffer) {
    return reliability::invoke(kPort, kStation, c, buffer);
}

// What a line may give; the slave only ever sends exception codes below 12 that
// libmodbus reports as such.
bool line_result(int32_t rc) {
    if (rc == REGWIRE_OK || rc == REGWIRE_ETIMEOUT || rc == REGWIRE_ECRC || rc == REGWIRE_EIO ||
        rc == REGWIRE_EPENDING) {
        return true;
    }
    return REGWIRE_IS_EXCEPTION(rc);
}

std::string describe(const std::vector<Served>& log) {
    std::ostringstream out;
    for (const Served& s : log) {
        out << "\n  fc " << s.function << " start " << s.start << " count " << s.count << ": "
            << reliability::answer_name(s.answer);
        if (s.stale_first)
            out << " (an earlier reply first, then " << answer_name(s.follower) << ")";
    }
    return out.str();
}

// The hostile slave, a port open on it, and the checks of every call.
class HostilePort {
  public:
    explicit HostilePort(std::uint64_t seed)
        : turnaround_("REGWIRE_TURNAROUND_MS", std::to_string(kTurnaroundMs).c_str()),
          // Every reply, the late ones too, comes within the horizon, as Regwire
          // asks of a slave: a reply past it could pass for a later request's.
          horizon_("REGWIRE_TURNAROUND_MAX_MS", std::to_string(4 * kTurnaroundMs).c_str()),
          slave(seed, kStation, kTurnaroundMs),
          device_("REGWIRE_PORT" + std::to_string(kPort)),
          port_env_(device_.c_str(), slave.device().c_str()),
          rng_(seed ^ 0x9E3779B97F4A7C15ull) {}
    ~HostilePort() { ClosePort_Modbus(kPort); }

    int32_t open() {
        const int32_t rc = OpenPort_Modbus(kPort, kSpeed921600, 0);
        slave.master_reopened();
        return rc;
    }

    // One call with guards around the buffer; false if any check failed.
    bool run(const Call& c, int32_t& rc) {
        const int registers = c.count * width(c.op);
        std::vector<int32_t> buf(static_cast<std::size_t>(c.count + 2 * kGuardLength));
        for (std::size_t i = 0; i < buf.size(); ++i) {
            const bool guard = i < kGuardLength || i >= buf.size() - kGuardLength;
            if (guard) {
                buf[i] = kGuard ^ static_cast<int32_t>(i);
            } else if (c.op == Op::WriteDX) {
                buf[i] = static_cast<int32_t>(rng_() % 98304u) - 32768;  // -32768..65535
            } else {
                buf[i] = static_cast<int32_t>(rng_());
            }
        }
        const std::vector<int32_t> before = buf;
        rc = invoke(c, buf.data() + kGuardLength);
        const bool idle = slave.wait_idle(std::chrono::seconds(5));
        const std::vector<Served> log = slave.take_log();
        const std::string where = describe(c) + " gave " + std::to_string(rc) + " (" +
                                  Regwire_strerror(rc) + "); the slave:" + describe(log);
        bool good = true;
        auto fail = [&](const std::string& what) {
            ADD_FAILURE() << what << "\n" << where;
            good = false;
        };
        if (!idle) fail("the slave did not finish answering");
        for (std::size_t i = 0; i < buf.size(); ++i) {
            const bool guard = i < kGuardLength || i >= buf.size() - kGuardLength;
            if (guard && buf[i] != before[i])
                fail("wrote outside the buffer at " + std::to_string(i));
        }
        if (!line_result(rc)) fail("a result the line cannot give");
        if (rc != REGWIRE_OK || !is_read(c.op)) {
            if (!std::equal(buf.begin(), buf.end(), before.begin())) {
                fail(rc != REGWIRE_OK ? "a failed call changed the buffer"
                                      : "a write changed the buffer");
            }
        }
        if (rc != REGWIRE_OK) return good;

        // Success: the last request of each part of the call got its own reply, first.
        // A read may have asked for a register or two more around the part.
        std::vector<std::uint16_t> replied;
        const int function = is_read(c.op) ? 3 : 16;
        for (const Chunk& chunk : chunks(c)) {
            const Served* last = nullptr;
            for (const Served& s : log) {
                const bool covers =
                    is_read(c.op)
                        ? s.start <= chunk.start && s.start + s.count >= chunk.start + chunk.count
                        : s.start == chunk.start && s.count == chunk.count;
                if (s.function == function && covers) last = &s;
            }
            if (last == nullptr) {
                fail("success without the request on the line");
                return false;
            }
            if (!last->genuine) fail("success although the request was not answered");
            const auto from =
                last->values.begin() + (is_read(c.op) ? chunk.start - last->start : 0);
            replied.insert(replied.end(), from, from + (is_read(c.op) ? chunk.count : 0));
        }
        const int32_t* v = buf.data() + kGuardLength;
        if (is_read(c.op)) {
            if (static_cast<int>(replied.size()) != registers) return false;
            for (int i = 0; i < c.count; ++i) {
                const int32_t want =
                    width(c.op) == 1
                        ? static_cast<int16_t>(replied[static_cast<std::size_t>(i)])
                        : static_cast<int32_t>(
                              (static_cast<uint32_t>(replied[static_cast<std::size_t>(2 * i)])
                               << 16) |
                              replied[static_cast<std::size_t>(2 * i + 1)]);
                if (v[i] != want) {
                    fail("value " + std::to_string(i) + " is " + std::to_string(v[i]) +
                         ", the reply held " + std::to_string(want));
                    break;
                }
            }
        } else {
            const std::vector<std::uint16_t> table = slave.registers(c.start, registers);
            for (int i = 0; i < c.count; ++i) {
                const auto u = static_cast<uint32_t>(v[i]);
                const bool same =
                    width(c.op) == 1
                        ? table[static_cast<std::size_t>(i)] ==
                              static_cast<std::uint16_t>(u & 0xFFFFu)
                        : table[static_cast<std::size_t>(2 * i)] == (u >> 16) &&
                              table[static_cast<std::size_t>(2 * i + 1)] == (u & 0xFFFFu);
                if (!same) {
                    fail("value " + std::to_string(i) + " did not reach the slave");
                    break;
                }
            }
        }
        return good;
    }

    // Members in this order: the timing setting, then the slave, then the port
    // variable naming the slave's pts.
  private:
    ScopedEnv turnaround_;
    ScopedEnv horizon_;

  public:
    HostileSlave slave;

  private:
    std::string device_;
    ScopedEnv port_env_;
    std::mt19937_64 rng_;
};

TEST(ReliabilityHostileSlave, EachKindOfAnswerGivesItsResult) {
    struct Row {
        const char* what;
        std::vector<Step> steps;
        std::vector<int32_t> results;  // one per call
        // Where writes differ: an echo names no values, so a write waits while
        // an earlier one of the same address and length may be answered.
        std::vector<int32_t> write_results = {};
    } rows[] = {
        {"correct reply", {{Answer::Correct}}, {REGWIRE_OK}},
        {"delayed within the timeout", {{Answer::DelayedInTime}}, {REGWIRE_OK}},
        {"junk after the reply",
         {{Answer::TrailingJunk}, {Answer::Correct}},
         {REGWIRE_OK, REGWIRE_OK}},
        // A slave refuses what it refuses however it is asked (a read may be asked
        // once more as it stands when a wider one was refused).
        {"exception 2",
         {{Answer::Exception, 2}, {Answer::Exception, 2}},
         {REGWIRE_EXCEPTION_BASE - 2}},
        {"exception 11",
         {{Answer::Exception, 11}, {Answer::Exception, 11}},
         {REGWIRE_EXCEPTION_BASE - 11}},
        {"no reply", {{Answer::Silent}}, {REGWIRE_ETIMEOUT}},
        {"truncated reply", {{Answer::Truncated}}, {REGWIRE_ETIMEOUT}},
        {"another station", {{Answer::WrongStation}}, {REGWIRE_ECRC}},
        {"another function", {{Answer::WrongFunction}}, {REGWIRE_ECRC}},
        {"wrong byte count or quantity", {{Answer::WrongCount}}, {REGWIRE_ECRC}},
        {"oversized frame", {{Answer::Oversized}}, {REGWIRE_ECRC}},
        {"bad CRC", {{Answer::BadCrc}}, {REGWIRE_ECRC}},
        {"random bytes", {{Answer::RandomBytes}}, {kAnyFailure}},
        {"reply to another address or length", {{Answer::Replay}}, {REGWIRE_ECRC}},
        {"late reply before the next request",
         {{Answer::LateBeforeNext}, {Answer::Correct}},
         {kTimeoutOrLateReply, REGWIRE_OK}},
        // The late reply arrives just ahead of the next answer: a read is asked
        // again in another shape, and its answer taken.
        {"late reply ahead of the next answer",
         {{Answer::HeldToNext}, {Answer::Correct}, {Answer::Correct}},
         {REGWIRE_ETIMEOUT, REGWIRE_OK},
         {REGWIRE_ETIMEOUT, kDoneOrPending}},
    };

    HostilePort port(20240611);
    ASSERT_TRUE(port.slave.ok()) << port.slave.error();
    ASSERT_EQ(port.open(), REGWIRE_OK);
    int start = 1000;
    for (const Row& row : rows) {
        for (Op op : kOps) {
            const int count = width(op) == 1 ? 3 : 2;
            start += 16;
            SCOPED_TRACE(std::string(row.what) + ", " + op_name(op));
            // A fresh session and a clean exchange first, so that the master
            // awaits no earlier reply. On a busy machine the last row's bytes may
            // reach the master only after it opened again: then once more.
            int32_t rc = REGWIRE_EIO;
            for (int tries = 0; tries < 5 && rc != REGWIRE_OK; ++tries) {
                ASSERT_EQ(port.open(), REGWIRE_OK);
                port.slave.script({{Answer::Correct}});
                ASSERT_TRUE(port.run({op, start, count}, rc));
            }
            ASSERT_EQ(rc, REGWIRE_OK);

            port.slave.script(row.steps);
            const bool write = !is_read(op);
            for (int32_t want :
                 write && !row.write_results.empty() ? row.write_results : row.results) {
                EXPECT_TRUE(port.run({op, start, count}, rc));
                if (want == kAnyFailure) {
                    EXPECT_NE(rc, REGWIRE_OK);
                } else if (want == kDoneOrPending) {
                    EXPECT_TRUE(rc == REGWIRE_OK || rc == REGWIRE_EPENDING) << Regwire_strerror(rc);
                } else if (want == kTimeoutOrLateReply) {
                    EXPECT_TRUE(rc == REGWIRE_ETIMEOUT || rc == REGWIRE_OK) << Regwire_strerror(rc);
                } else {
                    EXPECT_EQ(rc, want) << Regwire_strerror(rc);
                }
            }
            port.slave.script({});
        }
    }
    EXPECT_EQ(port.slave.crc_disagreements(), 0);
    EXPECT_EQ(port.slave.unreadable(), 0);
}

Call random_call(std::mt19937_64& rng) {
    const Op op = kOps[rng() % 4];
    const int most = width(op) == 1 ? 125 : 64;
    // Half the calls short, half anywhere up to the limit (the longest are split).
    const int count = rng() % 2 == 0 ? 1 + static_cast<int>(rng() % 8)
                                     : 1 + static_cast<int>(rng() % static_cast<unsigned>(most));
    const int registers = count * width(op);
    const int top = 65536 - registers;
    const int start =
        rng() % 10 == 0 ? top : static_cast<int>(rng() % static_cast<unsigned>(top + 1));
    return {op, start, count};
}

TEST(ReliabilityHostileSlave, ThousandsOfHostileAnswers) {
    const long target = reliability::scaled(2000, 50000);
    const std::uint64_t seed = reliability::seed_or(20240612);
    const int fds_before = reliability::open_descriptors();
    std::map<int32_t, long> results;
    long calls = 0;
    long failures = 0;
    std::array<long, reliability::kAnswerKinds> answers{};
    const auto began = Clock::now();
    {
        HostilePort port(seed);
        ASSERT_TRUE(port.slave.ok()) << port.slave.error();
        ASSERT_EQ(port.open(), REGWIRE_OK);
        std::mt19937_64 rng(seed);
        while (port.slave.requests() < target && failures < 10) {
            const Call c = random_call(rng);
            int32_t rc = REGWIRE_EIO;
            if (!port.run(c, rc)) ++failures;
            ++results[rc];
            ++calls;
            // Nothing was sent: as the programs do, try again a little later.
            if (rc == REGWIRE_EPENDING) {
                std::this_thread::sleep_for(std::chrono::milliseconds(kTurnaroundMs / 2));
            }
            if (calls % 400 == 0) {
                // A fresh session now and then: open again on the open port.
                ASSERT_EQ(port.open(), REGWIRE_OK);
            }
        }
        EXPECT_EQ(failures, 0);
        EXPECT_EQ(port.slave.crc_disagreements(), 0);
        EXPECT_EQ(port.slave.unreadable(), 0);
        EXPECT_GT(results[REGWIRE_OK], (calls - results[REGWIRE_EPENDING]) / 5)
            << "too few requests succeeded to prove much";
        answers = port.slave.answers();
        ASSERT_EQ(ClosePort_Modbus(kPort), REGWIRE_OK);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - began).count();
    const int fds_after = reliability::open_descriptors();
    EXPECT_EQ(fds_after, fds_before);

    long requests = 0;
    for (long n : answers) requests += n;
    std::printf("hostile slave: seed %llu, %ld requests in %ld calls, %.1f s\n",
                static_cast<unsigned long long>(seed), requests, calls, seconds);
    for (int i = 0; i < reliability::kAnswerKinds; ++i) {
        std::printf("  answer %-38s %6ld\n", reliability::answer_name(static_cast<Answer>(i)),
                    answers[static_cast<std::size_t>(i)]);
    }
    for (const auto& [rc, n] : results) {
        std::printf("  result %5d %-33s %6ld\n", rc, Regwire_strerror(rc), n);
    }
    std::printf("  descriptors before %d, after %d\n", fds_before, fds_after);
}

}  // namespace
