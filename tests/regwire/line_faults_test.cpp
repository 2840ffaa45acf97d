// SPDX-License-Identifier: MIT
// What a misbehaving line gives: silent slaves, corrupt replies, exceptions, late
// replies, a vanishing device, and no leaked descriptors along the way.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <functional>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "../reliability/modbus_crc.h"
#include "benchslave/fault_addresses.h"
#include "open_slave.h"
#include "proc_self.h"

namespace {

using support::kPort;
using support::OpenSlave;
using support::ScopedEnv;
using Clock = std::chrono::steady_clock;

constexpr int32_t kGuard = 0x6B6B6B6B;

double ms_since(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

// The slack a timing check allows on this machine as it is now: 50 ms and
// twenty times the longest a 2 ms sleep overslept of twenty, measured in the
// same run, so that a busy machine widens it and an idle one keeps it tight.
double slack_ms() {
    double worst = 0;
    for (int i = 0; i < 20; ++i) {
        const auto t = Clock::now();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        worst = std::max(worst, ms_since(t) - 2.0);
    }
    return 50.0 + 20.0 * worst;
}

// The documented bound of one function 03 request at 19200 bit/s.
double read_bound_ms(int registers, double turnaround_ms) {
    return (8 + 5 + 2 * registers) * 11.0 * 1000.0 / 19200.0 + turnaround_ms;
}

// A slave played by a thread of the test on a pseudo-terminal: `answer` gets
// each request frame and the peer, and decides what goes back.
class PtyPeer {
  public:
    using Answer = std::function<void(PtyPeer&, const std::vector<uint8_t>&)>;

    explicit PtyPeer(Answer answer) : answer_(std::move(answer)) {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
        path_ = ::ptsname(master_);
        held_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        for (int fd : {master_, held_}) {
            termios t{};
            if (::tcgetattr(fd, &t) == 0) {
                ::cfmakeraw(&t);
                ::tcsetattr(fd, TCSANOW, &t);
            }
        }
        if (::pipe2(stop_, O_CLOEXEC) != 0) return;
        thread_ = std::thread([this] { serve(); });
    }
    ~PtyPeer() {
        if (thread_.joinable()) {
            [[maybe_unused]] ssize_t n = ::write(stop_[1], "x", 1);
            thread_.join();
        }
        for (int fd : {master_, held_, stop_[0], stop_[1]}) {
            if (fd >= 0) ::close(fd);
        }
    }
    const std::string& path() const { return path_; }

    // Sends `frame` with its CRC appended.
    void send(std::vector<uint8_t> frame) {
        reliability::append_crc(frame);
        [[maybe_unused]] ssize_t n = ::write(master_, frame.data(), frame.size());
    }
    // A junk byte every 8 ms for `ms`. From `answer` only.
    void chatter(int ms) { chatter_until_ = Clock::now() + std::chrono::milliseconds(ms); }
    // The device vanishes as an unplugged adapter does: the terminal is hung up
    // (a hung-up terminal polls readable for ever). Without the privilege for
    // that, the master side closes. From `answer` only.
    void hang_up() {
        if (::ioctl(held_, TIOCVHANGUP) == 0) return;
        ::close(master_);
        master_ = -1;
    }

  private:
    void serve() {
        std::vector<uint8_t> in;
        while (master_ >= 0) {
            const bool chattering = Clock::now() < chatter_until_;
            pollfd p[2] = {{stop_[0], POLLIN, 0}, {master_, POLLIN, 0}};
            if (::poll(p, 2, chattering ? 8 : 50) < 0 || p[0].revents != 0) return;
            if (chattering) {
                const uint8_t junk = 0xA5;
                [[maybe_unused]] ssize_t n = ::write(master_, &junk, 1);
            }
            if ((p[1].revents & POLLIN) == 0) continue;
            uint8_t chunk[512];
            const ssize_t n = ::read(master_, chunk, sizeof chunk);
            if (n <= 0) continue;
            in.insert(in.end(), chunk, chunk + n);
            // Function 03 requests have 8 bytes, function 16 requests 9 + their byte count.
            const std::size_t want = in.size() > 6 && in[1] == 16 ? 9u + in[6] : 8u;
            if (in.size() < want) continue;
            answer_(*this, in);
            in.clear();
        }
    }

    Answer answer_;
    std::string path_;
    int master_ = -1;
    int held_ = -1;
    int stop_[2] = {-1, -1};
    Clock::time_point chatter_until_{};  // used by the peer's thread only
    std::thread thread_;
};

// The reply a sound slave gives: zeros for a read, the echo for a write.
std::vector<uint8_t> sound_reply(const std::vector<uint8_t>& req) {
    if (req[1] == 16) return {req.begin(), req.begin() + 6};
    std::vector<uint8_t> reply{req[0], 3, static_cast<uint8_t>(2 * req[5])};
    reply.resize(3u + 2u * req[5], 0);
    return reply;
}

double cpu_ms() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_nsec) / 1e6;
}

TEST(RegwireLineFaults, SilentSlaveTimesOutWithinItsBound) {
    struct Case {
        const char* turnaround;  // REGWIRE_TURNAROUND_MS, empty for the library's default
        double turnaround_ms;
    } cases[] = {{"", 100.0}, {"250", 250.0}, {"30", 30.0}};
    for (const Case& c : cases) {
        ScopedEnv env("REGWIRE_TURNAROUND_MS", c.turnaround);
        OpenSlave slave({"--no-reply-every", "1"});
        ASSERT_TRUE(slave.ready()) << slave.why();
        std::array<int32_t, 10> buf;
        buf.fill(kGuard);
        const auto began = Clock::now();
        EXPECT_EQ(Get_4X_DX(slave.port, 1, 0, 10, buf.data()), REGWIRE_ETIMEOUT);
        const double took = ms_since(began);
        const double bound = read_bound_ms(10, c.turnaround_ms);
        EXPECT_GE(took, c.turnaround_ms * 0.9) << "gave up before the slave's allowance";
        // The bound of three response timeouts, and the slack of this machine now.
        const double most = 3 * bound + slack_ms();
        EXPECT_LT(took, most) << "bound " << bound << " ms, allowed " << most << " ms";
        for (int32_t v : buf) EXPECT_EQ(v, kGuard);
        std::printf("turnaround %.0f ms: timeout after %.1f ms, bound %.1f ms\n", c.turnaround_ms,
                    took, bound);
    }
}

TEST(RegwireLineFaults, CorruptRepliesAndExceptionsLeaveTheBufferAlone) {
    // Magic registers fault any request touching them, so those cases use one
    // register; the every-request faults are also tried on 32-bit reads.
    struct Case {
        std::vector<std::string> args;
        int32_t start;
        int32_t expected;
    } cases[] = {
        {{"--bad-crc-every", "1"}, 10, REGWIRE_ECRC},
        {{}, benchslave::kMagicBadCrc, REGWIRE_ECRC},
        {{"--exception", "2", "--exception-every", "1"}, 10, REGWIRE_EXCEPTION_BASE - 2},
        {{"--exception", "6", "--exception-every", "1"}, 10, REGWIRE_EXCEPTION_BASE - 6},
        {{}, benchslave::kMagicException, REGWIRE_EXCEPTION_BASE - benchslave::kMagicExceptionCode},
        {{}, benchslave::kMagicNoReply, REGWIRE_ETIMEOUT},
    };
    for (const Case& c : cases) {
        OpenSlave slave(c.args);
        ASSERT_TRUE(slave.ready()) << slave.why();
        const bool magic = c.args.empty();
        for (bool wide : {false, true}) {
            if (wide && magic) continue;
            std::array<int32_t, 2> buf{kGuard, kGuard};
            const int32_t rc = wide ? Get_4X_LDX(slave.port, 1, c.start, 1, buf.data())
                                    : Get_4X_DX(slave.port, 1, c.start, magic ? 1 : 2, buf.data());
            EXPECT_EQ(rc, c.expected) << "start " << c.start << (wide ? " (32-bit)" : "");
            EXPECT_EQ(buf[0], kGuard);
            EXPECT_EQ(buf[1], kGuard);
        }
        // Writes report the same way.
        std::array<int32_t, 2> w{1, 2};
        EXPECT_EQ(Set_4X_DX(slave.port, 1, c.start, 1, w.data()), c.expected);
        if (!magic) {
            EXPECT_EQ(Set_4X_LDX(slave.port, 1, c.start, 1, w.data()), c.expected);
        }
    }
}

TEST(RegwireLineFaults, SplitReadFailingLateLeavesTheBufferAlone) {
    // Every second request is corrupted: the first half of a 64-value read arrives,
    // the second does not.
    OpenSlave slave({"--bad-crc-every", "2"});
    ASSERT_TRUE(slave.ready()) << slave.why();
    std::array<int32_t, 64> buf;
    buf.fill(kGuard);
    EXPECT_EQ(Get_4X_LDX(slave.port, 1, 0, 64, buf.data()), REGWIRE_ECRC);
    for (int32_t v : buf) ASSERT_EQ(v, kGuard);
    EXPECT_EQ(slave.process.counter("fc03"), 2);
}

TEST(RegwireLineFaults, LateReplyIsNeverTakenForTheNextRequest) {
    // A request touching 60004 is answered 400 ms late, well past the timeout of
    // the library's own allowance.
    ScopedEnv allowance("REGWIRE_TURNAROUND_MS", "");  // empty: the library's default
    OpenSlave slave({"--delay-ms", "400"});
    ASSERT_TRUE(slave.ready()) << slave.why();
    std::array<int32_t, 2> mark{4321, -4321};
    ASSERT_EQ(Set_4X_DX(slave.port, 1, 100, 2, mark.data()), REGWIRE_OK);

    std::array<int32_t, 2> buf{kGuard, kGuard};
    ASSERT_EQ(Get_4X_DX(slave.port, 1, benchslave::kMagicDelay, 2, buf.data()), REGWIRE_ETIMEOUT);
    // Read the marked registers at once and again until a reply comes: whatever
    // arrives must be theirs, never the late zeros of 60004.
    int32_t last = REGWIRE_EIO;
    const bool answered = support::eventually(
        [&] {
            buf = {kGuard, kGuard};
            last = Get_4X_DX(slave.port, 1, 100, 2, buf.data());
            EXPECT_TRUE(last == REGWIRE_OK || last == REGWIRE_ETIMEOUT || last == REGWIRE_EIO ||
                        last == REGWIRE_EPENDING)
                << Regwire_strerror(last);
            if (last != REGWIRE_OK) {
                EXPECT_EQ(buf[0], kGuard);
            }
            return last == REGWIRE_OK;
        },
        std::chrono::seconds(5));
    ASSERT_TRUE(answered) << Regwire_strerror(last);
    EXPECT_EQ(buf, mark);
    // And the line stays in step afterwards.
    for (int32_t i = 0; i < 5; ++i) {
        int32_t w = 700 + i;
        int32_t r = 0;
        ASSERT_EQ(Set_4X_DX(slave.port, 1, 300 + i, 1, &w), REGWIRE_OK);
        ASSERT_EQ(Get_4X_DX(slave.port, 1, 300 + i, 1, &r), REGWIRE_OK);
        EXPECT_EQ(r, w);
    }
}

TEST(RegwireLineFaults, LateSlaveNeverGivesAnotherBlocksValuesAndIsLearned) {
    // A sound slave that answers every request late. Reads of two blocks of the
    // same size alternate, so a late reply would pass for the other block's.
    const std::array<int32_t, 8> block100{0, 1, 32767, -32768, -1, -2, 1234, -1234};
    const std::array<int32_t, 8> block110{-1, -1, 1, -31072, -2, 31072, 0x1234, 0x5678};
    for (const char* late : {"150", "600"}) {
        ScopedEnv trace("REGWIRE_TRACE", "1");
        ScopedEnv allowance("REGWIRE_TURNAROUND_MS", "");  // the library's default
        OpenSlave slave({"--pattern", "demo", "--late-ms", late});
        ASSERT_TRUE(slave.ready()) << slave.why();
        testing::internal::CaptureStderr();
        int wrong = 0;
        int good_after_five = 0;
        constexpr int kCalls = 30;
        for (int i = 0; i < kCalls; ++i) {
            const bool first = i % 2 == 0;
            std::array<int32_t, 8> buf;
            buf.fill(kGuard);
            const int32_t rc = Get_4X_DX(slave.port, 1, first ? 100 : 110, 8, buf.data());
            // Nothing sent while earlier requests may be answered: as the window
            // does, the next read comes a tick later.
            if (rc == REGWIRE_EPENDING) std::this_thread::sleep_for(std::chrono::milliseconds(500));
            if (rc != REGWIRE_OK) continue;
            if (buf != (first ? block100 : block110)) ++wrong;
            if (i >= 5) ++good_after_five;
        }
        // One trace line per call, whatever it met on the way.
        const std::string out = testing::internal::GetCapturedStderr();
        EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), kCalls) << out;
        EXPECT_NE(out.find("late replies skipped"), std::string::npos) << out;
        EXPECT_EQ(wrong, 0) << late << " ms late";
        EXPECT_GE(good_after_five * 10, (kCalls - 5) * 9) << late << " ms late";
        std::printf(
            "slave %s ms late: %d wrong successes, %d of %d good reads after the first five\n",
            late, wrong, good_after_five, kCalls - 5);
    }
}

TEST(RegwireLineFaults, VanishedDeviceIsLostUntilOpenedAgain) {
    for (bool tcp : {false, true}) {
        std::vector<std::string> args;
        if (tcp) args = {"--tcp", "0"};
        auto first = std::make_unique<support::SlaveProcess>(args, kPort);
        ASSERT_TRUE(first->started()) << first->error();
        ASSERT_EQ(OpenPort_Modbus(kPort, 2, 0), REGWIRE_OK);
        int32_t v = 0;
        ASSERT_EQ(Get_4X_DX(kPort, 1, 0, 1, &v), REGWIRE_OK);

        first->kill_now();
        v = kGuard;
        int32_t w = 1;
        EXPECT_EQ(Get_4X_DX(kPort, 1, 0, 1, &v), REGWIRE_ELOST) << (tcp ? "tcp" : "pty");
        EXPECT_EQ(Set_4X_DX(kPort, 1, 0, 1, &w), REGWIRE_ELOST);
        EXPECT_EQ(Get_4X_LDX(kPort, 1, 0, 1, &v), REGWIRE_ELOST);
        EXPECT_EQ(v, kGuard);
        first.reset();

        support::SlaveProcess second(args, kPort);
        ASSERT_TRUE(second.started()) << second.error();
        EXPECT_EQ(Get_4X_DX(kPort, 1, 0, 1, &v), REGWIRE_ELOST) << "lost until opened again";
        ASSERT_EQ(OpenPort_Modbus(kPort, 2, 0), REGWIRE_OK);
        EXPECT_EQ(Get_4X_DX(kPort, 1, 0, 1, &v), REGWIRE_OK);
        EXPECT_EQ(v, 0);
        EXPECT_EQ(ClosePort_Modbus(kPort), REGWIRE_OK);
    }
}

TEST(RegwireLineFaults, MalformedRepliesAreReportedAsSuch) {
    struct Case {
        std::vector<uint8_t> reply;  // before its CRC
        int32_t expected;
    } cases[] = {
        {{1, 0x83, 0}, REGWIRE_ECRC},  // exception code 0 is none
        {{1, 0x83, 2}, REGWIRE_EXCEPTION_BASE - 2},
        {{1, 3, 4, 0, 7}, REGWIRE_ECRC},  // promises 4 bytes, carries 2
        {{1, 3, 2, 0, 7}, REGWIRE_OK},
    };
    for (const Case& c : cases) {
        PtyPeer peer([&](PtyPeer& p, const std::vector<uint8_t>&) { p.send(c.reply); });
        ScopedEnv device("REGWIRE_PORT6", peer.path().c_str());
        ASSERT_EQ(OpenPort_Modbus(kPort, 2, 0), REGWIRE_OK);
        int32_t v = kGuard;
        EXPECT_EQ(Get_4X_DX(kPort, 1, 0, 1, &v), c.expected)
            << int{c.reply[1]} << " " << int{c.reply[2]};
        EXPECT_EQ(v, c.expected == REGWIRE_OK ? 7 : kGuard);
        ClosePort_Modbus(kPort);
    }
}

TEST(RegwireLineFaults, ChatterNeitherHoldsACallNorLosesAWrite) {
    // After its first reply the slave sends a junk byte every 8 ms for 2.5 s;
    // every request is still answered whole.
    PtyPeer peer([](PtyPeer& p, const std::vector<uint8_t>& req) {
        p.send(sound_reply(req));
        p.chatter(2500);
    });
    ScopedEnv device("REGWIRE_PORT6", peer.path().c_str());
    ASSERT_EQ(OpenPort_Modbus(kPort, 2, 0), REGWIRE_OK);
    // Documented bound: three response timeouts (10 registers at 19200 bit/s), and
    // the slack of this machine now.
    const double timeout_ms = read_bound_ms(10, 100.0);
    const double bound_ms = 3 * timeout_ms + slack_ms();
    const auto began = Clock::now();
    int calls = 0;
    while (ms_since(began) < 2500) {
        const bool write = calls % 2 == 0;
        std::array<int32_t, 10> buf;
        buf.fill(write ? 7 : kGuard);
        const auto call = Clock::now();
        const int32_t rc =
            write ? Set_4X_DX(kPort, 1, 0, 10, buf.data()) : Get_4X_DX(kPort, 1, 0, 10, buf.data());
        EXPECT_LT(ms_since(call), bound_ms) << "call " << calls;
        EXPECT_EQ(rc, REGWIRE_OK) << "call " << calls << (write ? " write" : " read");
        if (!write && rc == REGWIRE_OK) {
            EXPECT_EQ(buf[0], 0);
        }
        ++calls;
    }
    ClosePort_Modbus(kPort);
}

TEST(RegwireLineFaults, HangUpEndsTheCallAtOnce) {
    // The slave ignores the first request, answers the second and vanishes while
    // the first may still be answered.
    int requests = 0;
    PtyPeer peer([&](PtyPeer& p, const std::vector<uint8_t>& req) {
        if (++requests == 1) return;
        p.send(sound_reply(req));
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        p.hang_up();
    });
    ScopedEnv device("REGWIRE_PORT6", peer.path().c_str());
    ASSERT_EQ(OpenPort_Modbus(kPort, 2, 0), REGWIRE_OK);
    int32_t v = kGuard;
    ASSERT_EQ(Get_4X_DX(kPort, 1, 0, 1, &v), REGWIRE_ETIMEOUT);
    const double cpu = cpu_ms();
    const auto began = Clock::now();
    const int32_t rc = Get_4X_DX(kPort, 1, 0, 1, &v);
    EXPECT_TRUE(rc == REGWIRE_ELOST || rc == REGWIRE_OK) << Regwire_strerror(rc);
    const double took = ms_since(began);
    const double cpu_took = cpu_ms() - cpu;
    // Within one response timeout (1 register at 19200 bit/s) and the slack.
    EXPECT_LT(took, read_bound_ms(1, 100.0) + slack_ms());
    EXPECT_LT(cpu_took, 100.0) << "busy while waiting";
    EXPECT_EQ(Get_4X_DX(kPort, 1, 0, 1, &v), REGWIRE_ELOST);
    ClosePort_Modbus(kPort);
}

TEST(RegwireLineFaults, KilledUserLeavesThePtyOpenableAtAnyParity) {
    support::SlaveProcess slave({}, kPort);
    ASSERT_TRUE(slave.started()) << slave.error();
    for (int32_t parity : {2, 1, 0}) {
        // A process opens the line and is killed while it holds it.
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            const char ok = OpenPort_Modbus(kPort, 3, parity) == REGWIRE_OK ? 'y' : 'n';
            [[maybe_unused]] ssize_t n = ::write(ready[1], &ok, 1);
            ::pause();
            ::_exit(0);
        }
        ::close(ready[1]);
        char opened = 0;
        ASSERT_EQ(::read(ready[0], &opened, 1), 1);
        ::close(ready[0]);
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        EXPECT_EQ(opened, 'y') << "parity " << parity;

        // No exclusive flag is left behind, and the line opens again as it was.
        const int fd = ::open(slave.address().c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(fd, 0);
        int exclusive = -1;
        EXPECT_EQ(::ioctl(fd, TIOCGEXCL, &exclusive), 0);
        EXPECT_EQ(exclusive, 0) << "parity " << parity;
        ::close(fd);
        ASSERT_EQ(OpenPort_Modbus(kPort, 3, parity), REGWIRE_OK) << "parity " << parity;
        int32_t v = kGuard;
        EXPECT_EQ(Get_4X_DX(kPort, 1, 0, 1, &v), REGWIRE_OK);
        ClosePort_Modbus(kPort);
    }
}

using proc_self::open_descriptors;

TEST(RegwireLineFaults, NoDescriptorLeaksOverManyOpens) {
    OpenSlave slave;
    ASSERT_TRUE(slave.ready()) << slave.why();
    ASSERT_EQ(ClosePort_Modbus(slave.port), REGWIRE_OK);
    ScopedEnv missing("REGWIRE_PORT30", "/nonexistent/regwire-device");
    const int before = open_descriptors();
    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(OpenPort_Modbus(slave.port, i % 9, i % 3), REGWIRE_OK) << "cycle " << i;
        if (i % 100 == 0) {
            int32_t v = 0;
            ASSERT_EQ(Get_4X_DX(slave.port, 1, 0, 1, &v), REGWIRE_OK);
            ASSERT_EQ(OpenPort_Modbus(slave.port, 2, 0), REGWIRE_OK);  // reopen while open
            ASSERT_EQ(OpenPort_Modbus(30, 2, 0), REGWIRE_EOPEN);
        }
        ASSERT_EQ(ClosePort_Modbus(slave.port), REGWIRE_OK);
    }
    EXPECT_EQ(open_descriptors(), before);
}

TEST(RegwireLineFaults, TraceShowsRequestsRepliesAndOutcomes) {
    ScopedEnv trace("REGWIRE_TRACE", "1");
    OpenSlave slave({"--pattern", "demo"});
    ASSERT_TRUE(slave.ready()) << slave.why();
    // The library runs inside programs that took the user's locale, where a
    // decimal comma is usual; its figures keep the point.
    ASSERT_NE(std::setlocale(LC_NUMERIC, "de_DE.UTF-8"), nullptr);
    testing::internal::CaptureStderr();
    std::array<int32_t, 2> buf{};
    const int32_t ok = Get_4X_DX(slave.port, 1, 100, 2, buf.data());
    const int32_t exc = Get_4X_DX(slave.port, 1, benchslave::kMagicException, 1, buf.data());
    const std::string out = testing::internal::GetCapturedStderr();
    std::setlocale(LC_NUMERIC, "C");
    EXPECT_TRUE(std::regex_search(out, std::regex(R"( in \d+\.\d ms, timeout \d+\.\d ms)"))) << out;
    EXPECT_EQ(ok, REGWIRE_OK);
    EXPECT_EQ(exc, REGWIRE_EXCEPTION_BASE - 4);
    // Request PDU 03 0064 0002, reply 03 04 0000 0001, then the exception reply.
    EXPECT_NE(out.find("request 03 00 64 00 02"), std::string::npos) << out;
    EXPECT_NE(out.find("reply 03 04 00 00 00 01"), std::string::npos) << out;
    EXPECT_NE(out.find("reply 83 04"), std::string::npos) << out;
    EXPECT_NE(out.find(Regwire_strerror(REGWIRE_OK)), std::string::npos) << out;
    EXPECT_NE(out.find("port 6 station 1"), std::string::npos) << out;
}

}  // namespace
