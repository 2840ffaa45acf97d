// SPDX-License-Identifier: MIT
// The window's own work per timer tick, without the line: one read tick
// (Timer1_Timer) filling 64 value cells, and one rebuild of a 64-row write grid
// (Timer2_Timer), each with the repaint it causes. The driver is a stand-in in
// this process that only hands out new values, so that every tick changes every
// cell and the driver call itself costs next to nothing.
#include <stdlib.h>

#include <QApplication>
#include <QEvent>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <string>
#include <vector>

#include "core/numbers.h"
#include "core/program_state.h"
#include "driver/driver.h"
#include "support/args.h"
#include "support/report.h"
#include "support/stats.h"
#include "window/bench_window.h"

namespace {

using Clock = std::chrono::steady_clock;

// Reads give each register a value that differs from the last read's.
class ChangingDriver : public bench::Driver {
  public:
    bench::DriverCall OpenPort_Modbus(int32_t, int32_t, int32_t) override { return ok(); }
    bench::DriverCall ClosePort_Modbus(int32_t) override { return ok(); }
    bench::DriverCall Get_4X_DX(int32_t, int32_t, int32_t, int32_t count,
                                int32_t* buffer) override {
        return fill(count, buffer, 1);
    }
    bench::DriverCall Set_4X_DX(int32_t, int32_t, int32_t, int32_t, int32_t*) override {
        return ok();
    }
    bench::DriverCall Get_4X_LDX(int32_t, int32_t, int32_t, int32_t count,
                                 int32_t* buffer) override {
        return fill(count, buffer, 65537);
    }
    bench::DriverCall Set_4X_LDX(int32_t, int32_t, int32_t, int32_t, int32_t*) override {
        return ok();
    }
    std::string Regwire_lastfailure(int32_t) override { return {}; }

  private:
    static bench::DriverCall ok() { return {true, 0, {}}; }
    bench::DriverCall fill(int32_t count, int32_t* buffer, int32_t scale) {
        ++tick_;
        for (int32_t i = 0; i < count; ++i) buffer[i] = (tick_ * 7 + i) * scale;
        return ok();
    }
    int32_t tick_ = 0;
};

// Counts paint events of one widget, to show that a tick's repaint was measured.
class PaintCounter : public QObject {
  public:
    int paints = 0;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++paints;
        return QObject::eventFilter(watched, event);
    }
};

struct TickTimes {
    std::vector<double> handler;  // the handler alone
    std::vector<double> total;    // the handler and the repaint it causes
    int paints = 0;
};

double ms_between(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

template <typename Tick>
TickTimes measure(bench::FlexGrid& grid, int ticks, Tick tick) {
    PaintCounter counter;
    grid.viewport()->installEventFilter(&counter);
    TickTimes t;
    for (int i = -5; i < ticks; ++i) {  // five ticks to warm up
        const auto began = Clock::now();
        tick(i);
        const auto handled = Clock::now();
        QCoreApplication::processEvents();
        const auto painted = Clock::now();
        if (i >= 0) {
            t.handler.push_back(ms_between(began, handled));
            t.total.push_back(ms_between(began, painted));
        }
    }
    grid.viewport()->removeEventFilter(&counter);
    t.paints = counter.paints;
    return t;
}

// The value cells must show what the tick put there; otherwise the benchmark
// measured something else.
bool shows(const bench::FlexGrid& grid, const std::vector<int32_t>& values) {
    for (std::size_t i = 0; i < values.size(); ++i) {
        const QString want = QString::fromStdString(bench::decimalText(values[i]));
        if (grid.text(static_cast<int>(i) + 1, 1) != want) return false;
    }
    return true;
}

void report(const char* program, const char* what, const TickTimes& t, int ticks) {
    using perf::ms_text;
    const auto h = perf::summarize(t.handler);
    const auto s = perf::summarize(t.total);
    std::printf(
        "  %-9s %-22s handler median %s p99 %s | with repaint median %s p99 %s max %s | "
        "%d paints of the grid in %d ticks\n",
        program, what, ms_text(h.median).c_str(), ms_text(h.p99).c_str(), ms_text(s.median).c_str(),
        ms_text(s.p99).c_str(), ms_text(s.max).c_str(), t.paints, ticks);
    perf::print_row({std::string(program) + ": " + what + ", with its repaint",
                     ms_text(s.median) + " (p99 " + ms_text(s.p99) + ")", "goal 1 ms",
                     perf::ratio_text(s.median, 1.0), "median < 1 ms",
                     perf::verdict_text(s.median < 1.0)});
}

}  // namespace

int main(int argc, char** argv) {
    perf::Args args(argc, argv, {"--ticks"}, {});
    const int ticks = static_cast<int>(args.number("--ticks", 500));
    if (!args.ok()) {
        std::fprintf(stderr, "bench_window_work: %s\nusage: bench_window_work [--ticks N]\n",
                     args.error().c_str());
        return 2;
    }
    // Offscreen, with a private runtime folder, whatever the caller's session.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    char runtime[] = "/tmp/bench-window-XXXXXX";
    if (::mkdtemp(runtime) == nullptr) return 1;
    ::setenv("XDG_RUNTIME_DIR", runtime, 1);

    int status = 0;
    {
        int qt_argc = 1;
        QApplication app(qt_argc, argv);
        // QApplication adopts the user's locale; the table's figures keep a decimal
        // point, which the scripts and tests that read them expect.
        std::setlocale(LC_NUMERIC, "C");
        std::printf("bench_window_work: %d ticks each, offscreen, values change every tick\n",
                    ticks);
        for (bench::Variant variant : {bench::Variant::Word16, bench::Variant::Long32}) {
            const char* program = variant == bench::Variant::Word16 ? "Wordbench" : "Longbench";
            bench::ProgramState state;
            ChangingDriver driver;
            // Building the window and drawing its first frame: the start-up work that
            // is the window's own. The first window of the process also loads the fonts.
            const auto building = Clock::now();
            bench::BenchWindow window(variant, state, driver);
            const auto built = Clock::now();
            PaintCounter frames;
            window.installEventFilter(&frames);
            window.show();
            while (frames.paints == 0 && Clock::now() - built < std::chrono::seconds(10)) {
                QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            }
            const auto drawn = Clock::now();
            window.removeEventFilter(&frames);
            std::printf(
                "  %-9s window built in %s, first frame drawn %s later%s\n", program,
                perf::ms_text(ms_between(building, built)).c_str(),
                perf::ms_text(ms_between(built, drawn)).c_str(),
                variant == bench::Variant::Word16 ? " (first window: fonts loaded here)" : "");
            bench::Controls& c = window.controls();
            // The handlers are called directly; the timers would only add ticks.
            c.Timer1->stop();
            c.Timer2->stop();

            c.Text1->setText(QStringLiteral("64"));
            c.Text2->setText(QStringLiteral("0"));
            window.readPanel().Command3_Click();
            c.Timer1->stop();
            const TickTimes read =
                measure(*c.MSFlexGrid1, ticks, [&](int) { window.readPanel().Timer1_Timer(); });
            if (!shows(*c.MSFlexGrid1, {state.ReadValues.begin(), state.ReadValues.begin() + 64})) {
                std::fprintf(stderr,
                             "bench_window_work: the read grid does not show the last values\n");
                status = 1;
            }
            report(program, "read tick, 64 values", read, ticks);

            c.Text4->setText(QStringLiteral("64"));
            c.Text3->setText(QStringLiteral("0"));
            const TickTimes write = measure(*c.MSFlexGrid2, ticks, [&](int i) {
                for (std::size_t k = 0; k < 64; ++k)
                    state.WriteValues[k] = i * 3 + static_cast<int32_t>(k);
                window.writePanel().Timer2_Timer();
            });
            if (c.MSFlexGrid2->rows() != 65 ||
                !shows(*c.MSFlexGrid2,
                       {state.WriteValues.begin(), state.WriteValues.begin() + 64})) {
                std::fprintf(stderr,
                             "bench_window_work: the write grid does not show 64 rows of values\n");
                status = 1;
            }
            report(program, "write grid, 64 rows", write, ticks);
        }
    }
    ::rmdir(runtime);
    return status;
}
