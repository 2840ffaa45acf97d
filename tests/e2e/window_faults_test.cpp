// SPDX-License-Identifier: MIT
// The window reading through the real libRegwire.so from a slave that misbehaves:
// faults every Nth request, and a device that vanishes and comes back. The grid
// never shows a value the slave did not hold, and no fault brings up a message or
// stops the program.
#include <unistd.h>

#include <QElapsedTimer>
#include <filesystem>

#include "mbpoll.h"
#include "proc_self.h"
#include "slave_process.h"
#include "window_fixture.h"

namespace bench::testing {
namespace {

#if defined(__SANITIZE_ADDRESS__)
// AddressSanitizer keeps freed memory in quarantine (256 MB) before reusing it, so
// resident memory grows with every repaint of a stale value until that is full;
// leaks are LeakSanitizer's to find in that build.
constexpr bool kResidentMemoryShowsLeaks = false;
#else
constexpr bool kResidentMemoryShowsLeaks = true;
#endif

using support::SlaveProcess;

int ticksToRun() {
    const char* n = std::getenv("WINDOW_FAULT_TICKS");
    return n != nullptr ? std::atoi(n) : 300;
}

// The device path the window's port 6 names: a link that can be pointed at a new
// simulator, as a by-id link follows a re-plugged adapter.
class DeviceLink {
  public:
    DeviceLink() {
        char dir[] = "/tmp/slave-link-XXXXXX";
        dir_ = mkdtemp(dir);
        path_ = dir_ + "/ttySlave";
        setenv("REGWIRE_PORT6", path_.c_str(), 1);
    }
    ~DeviceLink() {
        unsetenv("REGWIRE_PORT6");
        std::filesystem::remove_all(dir_);
    }
    void pointAt(const std::string& device) {
        std::filesystem::remove(path_);
        std::filesystem::create_symlink(device, path_);
    }

  private:
    std::string dir_;
    std::string path_;
};

class WindowFaults : public WindowTest, public ::testing::WithParamInterface<Variant> {
  protected:
    bool wide() const { return GetParam() == Variant::Long32; }

    std::vector<int32_t> valueColumn(int count) {
        std::vector<int32_t> shown;
        for (int row = 1; row <= count; ++row)
            shown.push_back(c().MSFlexGrid1->text(row, 1).toInt());
        return shown;
    }

    void startReading(int count, int start) {
        c().Text1->setText(QString::number(count));
        c().Text2->setText(QString::number(start));
        click(c().Command3);
    }
};

TEST_P(WindowFaults, TicksThroughInjectedFaultsShowOnlyTheSlavesValues) {
    setenv("REGWIRE_TURNAROUND_MS", "30", 1);
    SlaveProcess slave({"--no-reply-every", "7", "--bad-crc-every", "11", "--exception", "4",
                        "--exception-every", "13", "--delay-ms", "80", "--delay-every", "17"},
                       6);
    ASSERT_TRUE(slave.started()) << slave.error();
    const std::vector<int64_t> stored = wide() ? std::vector<int64_t>{-70000, 5, 123456789, -1}
                                               : std::vector<int64_t>{65535, 5, 32768, 1234};
    const std::vector<int32_t> values = wide() ? std::vector<int32_t>{-70000, 5, 123456789, -1}
                                               : std::vector<int32_t>{-1, 5, -32768, 1234};
    ASSERT_TRUE(mbpollWrite(slave.address(), 40, stored, wide()).ok);  // request 1: no fault

    open(GetParam());
    click(c().Command9);
    startReading(4, 40);
    int fdsAfterWarmUp = 0;
    long rssAfterWarmUp = 0;
    QElapsedTimer longest;
    qint64 longestTick = 0;
    const int ticks = ticksToRun();
    for (int tick = 0; tick < ticks; ++tick) {
        longest.start();
        window().readPanel().Timer1_Timer();
        longestTick = std::max(longestTick, longest.elapsed());
        QCoreApplication::processEvents();  // the window handles its events between ticks
        ASSERT_EQ(valueColumn(4), values) << "tick " << tick;
        if (tick == 20) {
            fdsAfterWarmUp = proc_self::open_descriptors();
            rssAfterWarmUp = proc_self::resident_kib();
        }
    }
    const auto counters = slave.counters();
    const long faults = counters.at("faults_no_reply") + counters.at("faults_bad_crc") +
                        counters.at("faults_exception") + counters.at("faults_delay");
    std::printf(
        "%d ticks: %ld requests, %ld faults; fds %d -> %d; RSS %ld -> %ld KiB; "
        "longest tick %lld ms\n",
        ticks, counters.at("requests"), faults, fdsAfterWarmUp, proc_self::open_descriptors(),
        rssAfterWarmUp, proc_self::resident_kib(), static_cast<long long>(longestTick));
    EXPECT_GT(counters.at("faults_no_reply"), 0);
    EXPECT_GT(counters.at("faults_bad_crc"), 0);
    EXPECT_GT(counters.at("faults_exception"), 0);
    EXPECT_LE(proc_self::open_descriptors(), fdsAfterWarmUp);
    if (kResidentMemoryShowsLeaks) {
        EXPECT_LT(proc_self::resident_kib() - rssAfterWarmUp, 4096);
    }
    EXPECT_EQ(messageBoxes(), 0);
    EXPECT_TRUE(c().Timer1->isActive());
    EXPECT_LT(longestTick, 3000) << "a tick blocked the window far beyond its timeout";
    unsetenv("REGWIRE_TURNAROUND_MS");
}

TEST_P(WindowFaults, AVanishedDeviceComesBackAfterCloseAndOpen) {
    setenv("REGWIRE_TURNAROUND_MS", "30", 1);
    DeviceLink link;
    auto first = std::make_unique<SlaveProcess>();
    ASSERT_TRUE(first->started()) << first->error();
    ASSERT_TRUE(mbpollWrite(first->address(), 7, {11, 22}, wide()).ok);
    link.pointAt(first->address());

    open(GetParam());
    click(c().Command9);
    startReading(2, 7);
    window().readPanel().Timer1_Timer();
    ASSERT_EQ(valueColumn(2), (std::vector<int32_t>{11, 22}));

    first->kill_now();  // the adapter is pulled out
    for (int tick = 0; tick < 5; ++tick) window().readPanel().Timer1_Timer();
    EXPECT_EQ(valueColumn(2), (std::vector<int32_t>{11, 22}));
    EXPECT_EQ(messageBoxes(), 0);
    EXPECT_TRUE(window().isVisible());

    SlaveProcess second;  // plugged in again: a fresh device on the same path
    ASSERT_TRUE(second.started()) << second.error();
    ASSERT_TRUE(mbpollWrite(second.address(), 7, {33, 44}, wide()).ok);
    link.pointAt(second.address());
    click(c().Command10);
    click(c().Command9);
    click(c().Command3);
    window().readPanel().Timer1_Timer();
    EXPECT_EQ(valueColumn(2), (std::vector<int32_t>{33, 44}));
    EXPECT_EQ(messageBoxes(), 0);
    unsetenv("REGWIRE_TURNAROUND_MS");
}

INSTANTIATE_TEST_SUITE_P(Variants, WindowFaults,
                         ::testing::Values(Variant::Word16, Variant::Long32), [](const auto& p) {
                             return p.param == Variant::Word16 ? "Word16" : "Long32";
                         });

}  // namespace
}  // namespace bench::testing
