// SPDX-License-Identifier: MIT
// Start-up time and peak memory of wordbench beside a bare Qt Widgets window (and,
// to tell the font system's share, the bare window with one Chinese label), all
// run the same way and in rotation:
//  - offscreen: from the fork until Qt has flushed the window's first frame (its
//    log category qt.qpa.input.devices, enabled from outside, prints one line then);
//  - on X, under an Xvfb this benchmark starts and stops: from the fork until the
//    X server maps a window whose _NET_WM_PID is the program's, as reported to a
//    client listening on the root window (no polling).
// Peak memory is VmHWM once the program has settled (no CPU used for 300 ms);
// beside it RssAnon, the part that is the program's own and not shared file pages.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "process.h"
#include "support/args.h"
#include "support/gui.h"
#include "support/proc.h"
#include "support/report.h"
#include "support/stats.h"

namespace {

using support::Clock;
using namespace std::chrono_literals;

struct Program {
    const char* name;
    std::vector<std::string> argv;
    std::vector<double> startup_ms;
    std::vector<double> peak_mib;
    std::vector<double> anon_mib;
};

// The yardstick, the yardstick with one line of Chinese text, and the tool.
struct Trio {
    Program bare{"bare window", {BARE_WINDOW_PATH}, {}, {}, {}};
    Program label{
        "bare window with a Chinese label", {BARE_WINDOW_PATH, "--chinese-label"}, {}, {}, {}};
    Program tool{"wordbench", {WORDBENCH_PATH}, {}, {}, {}};
};

struct Launch {
    bool ok = false;
    double startup_ms = 0;
    double peak_mib = 0;
    double anon_mib = 0;
    std::string why;
};

Launch failed(std::string why) {
    Launch l;
    l.why = std::move(why);
    return l;
}

// Lets the started program settle, reads its peak memory, stops it.
Launch finish(support::Child& child, double startup_ms) {
    Launch l;
    perf::wait_quiet(child.pid(), 300ms, Clock::now() + 10s);
    child.drain();
    const auto hwm = perf::vm_hwm_kib(child.pid());
    const auto anon = perf::rss_anon_kib(child.pid());
    child.stop();
    if (!hwm || !anon) return failed("no VmHWM or RssAnon in /proc");
    l.ok = true;
    l.startup_ms = startup_ms;
    l.peak_mib = static_cast<double>(*hwm) / 1024.0;
    l.anon_mib = static_cast<double>(*anon) / 1024.0;
    return l;
}

Launch offscreen_launch(const std::vector<std::string>& argv, const std::string& runtime) {
    std::string error;
    auto child = support::Child::spawn(perf::offscreen_program(argv, runtime), error);
    if (!child) return failed(error);
    const auto shown = child->await_stderr(perf::kWindowShownCategory, Clock::now() + 30s);
    if (!shown) {
        child->stop();
        return failed("no window shown within 30 s: " + child->stderr_text());
    }
    return finish(*child,
                  std::chrono::duration<double, std::milli>(*shown - child->started()).count());
}

// An X display of our own, and a client that hears every window mapped on it.
class XServer {
  public:
    bool start(std::string& error) {
        support::SpawnOptions options;
        options.argv = {"Xvfb", "-displayfd",   "1",         "-screen",
                        "0",    "1280x1024x24", "-nolisten", "tcp"};
        options.capture_stderr = true;
        xvfb_ = support::Child::spawn(options, error);
        if (!xvfb_) return false;
        const auto number = xvfb_->stdout_line(Clock::now() + 20s);
        if (!number) {
            error = "Xvfb gave no display number: " + xvfb_->stderr_text();
            return false;
        }
        name_ = ":" + *number;
        display_ = XOpenDisplay(name_.c_str());
        if (display_ == nullptr) {
            error = "cannot connect to Xvfb on " + name_;
            return false;
        }
        // A window that vanishes between its map and our question is no error.
        XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
        pid_atom_ = XInternAtom(display_, "_NET_WM_PID", False);
        XSelectInput(display_, DefaultRootWindow(display_), SubstructureNotifyMask);
        XSync(display_, False);
        return true;
    }
    ~XServer() {
        if (display_ != nullptr) XCloseDisplay(display_);
        if (xvfb_) xvfb_->stop();
    }
    const std::string& name() const { return name_; }

    // Waits for a window of process `pid` to be mapped; returns when it was heard.
    std::optional<Clock::time_point> await_map(pid_t pid, Clock::time_point deadline) {
        for (;;) {
            while (XPending(display_) > 0) {
                XEvent event;
                XNextEvent(display_, &event);
                if (event.type == MapNotify && pid_of(event.xmap.window) == pid)
                    return Clock::now();
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) return std::nullopt;
            pollfd p{ConnectionNumber(display_), POLLIN, 0};
            ::poll(&p, 1, static_cast<int>(left.count()) + 1);
        }
    }

  private:
    long pid_of(Window window) {
        Atom type = None;
        int format = 0;
        unsigned long items = 0;
        unsigned long after = 0;
        unsigned char* data = nullptr;
        long pid = -1;
        if (XGetWindowProperty(display_, window, pid_atom_, 0, 1, False, XA_CARDINAL, &type,
                               &format, &items, &after, &data) == Success &&
            data != nullptr && format == 32 && items == 1) {
            pid = static_cast<long>(*reinterpret_cast<unsigned long*>(data));
        }
        if (data != nullptr) XFree(data);
        return pid;
    }

    std::unique_ptr<support::Child> xvfb_;
    std::string name_;
    Display* display_ = nullptr;
    Atom pid_atom_ = None;
};

Launch x11_launch(XServer& x, const std::vector<std::string>& argv, const std::string& runtime) {
    std::string error;
    auto child = support::Child::spawn(perf::x11_program(argv, runtime, x.name()), error);
    if (!child) return failed(error);
    const auto mapped = x.await_map(child->pid(), Clock::now() + 30s);
    if (!mapped) {
        child->stop();
        return failed("no window mapped within 30 s: " + child->stderr_text());
    }
    return finish(*child,
                  std::chrono::duration<double, std::milli>(*mapped - child->started()).count());
}

using Launcher = std::function<Launch(const std::vector<std::string>&)>;

// Runs the three programs `runs` times each, in rotation (each goes first in turn),
// after one unmeasured run of each.
bool rotate(Trio& t, long runs, const Launcher& launch) {
    for (long i = -1; i < runs; ++i) {
        Program* order[3] = {&t.bare, &t.label, &t.tool};
        std::rotate(order, order + (i + 3) % 3, order + 3);
        for (Program* p : order) {
            const Launch l = launch(p->argv);
            if (!l.ok) {
                std::fprintf(stderr, "bench_startup: %s: %s\n", p->name, l.why.c_str());
                return false;
            }
            if (i < 0) continue;
            p->startup_ms.push_back(l.startup_ms);
            p->peak_mib.push_back(l.peak_mib);
            p->anon_mib.push_back(l.anon_mib);
        }
    }
    return true;
}

std::string mib_text(double mib) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MiB", mib);
    return text;
}

void report(const char* how, const Trio& t) {
    using perf::ms_text;
    const Program* all[3] = {&t.tool, &t.bare, &t.label};
    for (const Program* p : all) {
        const auto s = perf::summarize(p->startup_ms);
        const auto m = perf::summarize(p->peak_mib);
        const auto a = perf::summarize(p->anon_mib);
        std::printf("  %-9s %-33s start-up median %s (%s .. %s), peak %s, anonymous %s\n", how,
                    p->name, ms_text(s.median).c_str(), ms_text(s.min).c_str(),
                    ms_text(s.max).c_str(), mib_text(m.median).c_str(), mib_text(a.median).c_str());
    }
    const double bare_ms = perf::summarize(t.bare.startup_ms).median;
    const double label_ms = perf::summarize(t.label.startup_ms).median;
    const double tool_ms = perf::summarize(t.tool.startup_ms).median;
    const double bare_mib = perf::summarize(t.bare.peak_mib).median;
    const double label_mib = perf::summarize(t.label.peak_mib).median;
    const double tool_mib = perf::summarize(t.tool.peak_mib).median;
    const std::string shown = std::string(how) == "Xvfb" ? "window mapped" : "first frame";
    perf::print_row({"wordbench start-up to " + shown + ", " + how, ms_text(tool_ms),
                     "bare window " + ms_text(bare_ms), perf::ratio_text(tool_ms, bare_ms),
                     "<= 1.5x", perf::verdict_text(bare_ms > 0 && tool_ms <= 1.5 * bare_ms)});
    perf::print_row({"  the same, bare window with one Chinese label, " + std::string(how),
                     ms_text(label_ms), "bare window " + ms_text(bare_ms),
                     perf::ratio_text(label_ms, bare_ms), "-", "-"});
    char difference[32];
    std::snprintf(difference, sizeof difference, "%+.1f MiB", tool_mib - bare_mib);
    perf::print_row({std::string("wordbench peak resident memory (VmHWM), ") + how,
                     mib_text(tool_mib), "bare window " + mib_text(bare_mib), difference,
                     "<= +8 MiB", perf::verdict_text(tool_mib - bare_mib <= 8.0)});
    std::snprintf(difference, sizeof difference, "%+.1f MiB", label_mib - bare_mib);
    perf::print_row({"  the same, bare window with one Chinese label, " + std::string(how),
                     mib_text(label_mib), "bare window " + mib_text(bare_mib), difference, "-",
                     "-"});
    const double bare_anon = perf::summarize(t.bare.anon_mib).median;
    const double tool_anon = perf::summarize(t.tool.anon_mib).median;
    std::snprintf(difference, sizeof difference, "%+.1f MiB", tool_anon - bare_anon);
    perf::print_row({"  wordbench private (anonymous) resident memory, " + std::string(how),
                     mib_text(tool_anon), "bare window " + mib_text(bare_anon), difference, "-",
                     "-"});
}

}  // namespace

int main(int argc, char** argv) {
    perf::Args args(argc, argv, {"--runs"}, {"--no-x"});
    const long runs = args.number("--runs", 10);
    if (!args.ok()) {
        std::fprintf(stderr, "bench_startup: %s\nusage: bench_startup [--runs N] [--no-x]\n",
                     args.error().c_str());
        return 2;
    }
    perf::RuntimeDir runtime;
    if (runtime.path().empty()) {
        std::fprintf(stderr, "bench_startup: cannot make a runtime folder\n");
        return 1;
    }
    std::printf("bench_startup: %ld runs of each program per way, in rotation\n", runs);

    Trio offscreen;
    if (!rotate(offscreen, runs, [&](const std::vector<std::string>& command) {
            return offscreen_launch(command, runtime.path());
        })) {
        return 1;
    }
    report("offscreen", offscreen);

    if (args.flag("--no-x") || !support::on_path("Xvfb")) {
        const char* why = args.flag("--no-x") ? "not asked for (--no-x)" : "Xvfb not installed";
        for (const char* what : {"wordbench start-up to window mapped, Xvfb",
                                 "wordbench peak resident memory (VmHWM), Xvfb"}) {
            perf::print_row({what, "-", why, "-", "-", "skipped"});
        }
        return 0;
    }
    XServer x;
    std::string error;
    if (!x.start(error)) {
        std::fprintf(stderr, "bench_startup: %s\n", error.c_str());
        return 1;
    }
    Trio xvfb;
    if (!rotate(xvfb, runs, [&](const std::vector<std::string>& command) {
            return x11_launch(x, command, runtime.path());
        })) {
        return 1;
    }
    report("Xvfb", xvfb);
    return 0;
}
