// SPDX-License-Identifier: MIT
// benchmarks/run.sh, the script behind scripts/bench and the smoke test, run over stand-in
// programs: what it passes to each, the table it prints, and when it fails.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <map>
#include <string>

#include "process.h"
#include "support/gui.h"

namespace perf {
namespace {

using namespace std::chrono_literals;
using support::run_to_end;
using support::RunResult;
using support::SpawnOptions;

const char* const kPrograms[] = {"bench_roundtrip",   "bench_peers",   "bench_silent",
                                 "bench_window_work", "bench_startup", "bench_idle"};

// A folder of stand-ins. Each prints its arguments, then one row whose verdict is
// `verdict`, or does what `scripts` says instead.
class StandIns {
  public:
    explicit StandIns(const std::map<std::string, std::string>& scripts = {}) {
        for (const char* program : kPrograms) {
            const auto it = scripts.find(program);
            write(program, it != scripts.end() ? it->second : row_script(program, "met"));
        }
        const auto table = scripts.find("bench_wire_table");
        write("bench_wire_table",
              table != scripts.end() ? table->second : "echo '| 9600 | 169.58 |'");
    }
    std::string bin() const { return dir_.path(); }

    static std::string row_script(const std::string& name, const std::string& verdict) {
        return "echo \"" + name + " got: $*\"\nprintf 'ROW\\t" + name +
               " figure\\t1 ms\\t2 ms\\t0.5x\\t< 1x\\t" + verdict + "\\n'";
    }

  private:
    void write(const std::string& name, const std::string& body) {
        const std::string path = dir_.path() + "/" + name;
        std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
        ::chmod(path.c_str(), 0755);
    }
    RuntimeDir dir_;  // a private folder, removed afterwards
};

RunResult run_script(const std::string& bin, const std::string& mode) {
    SpawnOptions o;
    o.argv = {RUN_SCRIPT, bin};
    if (!mode.empty()) o.argv.push_back(mode);
    o.capture_stderr = true;
    return run_to_end(o, 60s);
}

TEST(RunScript, PrintsOneTableOfEveryProgramsRows) {
    StandIns bin;
    const RunResult r = run_script(bin.bin(), "--smoke");
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find("| measurement | figure | comparison (same run) | ratio | goal | met |"),
              std::string::npos);
    for (const char* program : kPrograms) {
        EXPECT_NE(
            r.out.find(std::string("| ") + program + " figure | 1 ms | 2 ms | 0.5x | < 1x | met |"),
            std::string::npos)
            << program;
    }
    EXPECT_NE(r.out.find("| 9600 | 169.58 |"), std::string::npos);
    EXPECT_NE(r.out.find("goals met: 6, missed: 0"), std::string::npos);
}

TEST(RunScript, EachModeGivesTheProgramsTheirCounts) {
    struct Case {
        const char* mode;
        std::map<std::string, std::string> wanted;  // program -> its arguments
    };
    const Case cases[] = {
        {"",
         {{"bench_roundtrip", "--calls 1000"},
          {"bench_idle", "--seconds 60"},
          {"bench_startup", "--runs 10"}}},
        {"--quick", {{"bench_roundtrip", "--calls 1000"}, {"bench_idle", "--seconds 10"}}},
        {"--smoke",
         {{"bench_roundtrip", "--calls 5 --block 5"},
          {"bench_peers", "--calls 5 --rounds 1"},
          {"bench_silent", "--calls 1"},
          {"bench_window_work", "--ticks 5"},
          {"bench_startup", "--runs 1"},
          {"bench_idle", "--seconds 1"}}},
    };
    StandIns bin;
    for (const Case& c : cases) {
        const RunResult r = run_script(bin.bin(), c.mode);
        EXPECT_EQ(r.exit_code, 0) << c.mode;
        for (const auto& [program, arguments] : c.wanted) {
            EXPECT_NE(r.out.find(program + " got: " + arguments + "\n"), std::string::npos)
                << c.mode << " " << program;
        }
    }
}

TEST(RunScript, AMissedGoalIsAResultNotAFailure) {
    StandIns bin({{"bench_silent", StandIns::row_script("bench_silent", "missed")}});
    const RunResult r = run_script(bin.bin(), "--smoke");
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find("goals met: 5, missed: 1"), std::string::npos);
}

TEST(RunScript, FailsWhenAProgramFailsOrPrintsNoFigures) {
    struct Case {
        std::map<std::string, std::string> scripts;
        std::string reported;
    };
    const Case cases[] = {
        {{{"bench_peers", StandIns::row_script("bench_peers", "met") + "\nexit 1"}},
         "bench_peers (exit status)"},
        {{{"bench_window_work", "echo only details"}}, "bench_window_work (no figures)"},
        {{{"bench_wire_table", "exit 3"}}, "bench_wire_table"},
    };
    for (const Case& c : cases) {
        StandIns bin(c.scripts);
        const RunResult r = run_script(bin.bin(), "--smoke");
        EXPECT_EQ(r.exit_code, 1) << c.reported;
        EXPECT_NE(r.err.find("FAILED: " + c.reported), std::string::npos) << r.err;
        // The other programs still ran and their rows are in the table.
        EXPECT_NE(r.out.find("| bench_idle figure |"), std::string::npos) << c.reported;
    }
}

TEST(RunScript, RejectsAnUnknownMode) {
    StandIns bin;
    const RunResult r = run_script(bin.bin(), "--fast");
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.out.find("== bench_roundtrip"), std::string::npos);
}

}  // namespace
}  // namespace perf
