// SPDX-License-Identifier: MIT
#include "scan.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "line.h"
#include "printable.h"
#include "regwire.h"

namespace regwire_tool {

namespace {

constexpr const char* kParityNames[] = {"none", "odd", "even"};
// Speeds from the most to the least common on Modbus RTU lines, by index.
constexpr int kCommonSpeeds[] = {1, 2, 3, 4, 5, 0, 6, 7, 8};
constexpr int kCommonParities[] = {2, 0, 1};
// Opening and closing a serial port (with the settling pause), or a TCP
// connection (libRegwire's connect timeout is 2 s).
constexpr uint64_t kSerialOpenUs = 1000000;
constexpr uint64_t kTcpOpenUs = 2500000;
// libRegwire's bound of a request: three response timeouts.
constexpr uint64_t kRequestTimeouts = 3;

bool listed(const std::vector<int>& list, int value) {
    return list.empty() || std::find(list.begin(), list.end(), value) != list.end();
}

regwire::Timing timing(const ScanPlan& plan, const LineSettings& s) {
    regwire::Timing t;
    t.baud = plan.tcp ? 0 : regwire::baud_for_index(s.speed);
    t.turnaround_us = plan.turnaround_us;
    t.max_turnaround_us = plan.turnaround_us;
    return t;
}

uint32_t read_timeout_us(const regwire::Timing& t) {
    return t.response_timeout_us(regwire::read_request_bytes(), regwire::read_reply_bytes(1));
}

int station_count(const ScanPlan& plan) {
    return plan.stations.last - plan.stations.first + 1;
}

std::string settings_text(const ScanPlan& plan, const LineSettings& s) {
    if (plan.tcp) return "TCP";
    return std::to_string(regwire::kSpeeds[s.speed]) + " bit/s, parity " + kParityNames[s.parity];
}

void set_env_ms(const char* name, uint32_t us) {
    ::setenv(name, std::to_string(us / 1000).c_str(), 1);
}

}  // namespace

std::vector<LineSettings> scan_order(const std::vector<int>& speeds,
                                     const std::vector<int>& parities) {
    std::vector<LineSettings> out;
    auto add = [&](int speed, int parity) {
        const LineSettings s{speed, parity};
        if (listed(speeds, speed) && listed(parities, parity) &&
            std::find(out.begin(), out.end(), s) == out.end()) {
            out.push_back(s);
        }
    };
    for (int speed : {1, 2}) {
        for (int parity : {2, 0}) add(speed, parity);
    }
    for (int speed : kCommonSpeeds) {
        for (int parity : kCommonParities) add(speed, parity);
    }
    return out;
}

uint64_t scan_bound_us(const ScanPlan& plan) {
    uint64_t total = 0;
    for (const LineSettings& s : plan.settings) {
        const regwire::Timing t = timing(plan, s);
        uint64_t request = read_timeout_us(t);
        if (!plan.tcp) request *= kRequestTimeouts;
        total += (plan.tcp ? kTcpOpenUs : kSerialOpenUs) + request * station_count(plan);
    }
    return total;
}

uint64_t scan_typical_us(const ScanPlan& plan) {
    uint64_t total = 0;
    for (const LineSettings& s : plan.settings) {
        total += uint64_t{read_timeout_us(timing(plan, s))} * station_count(plan);
    }
    return total;
}

std::string duration_text(uint64_t us) {
    char text[64];
    const uint64_t tenths = (us + 50000) / 100000;
    if (tenths < 600) {
        std::snprintf(text, sizeof text, "%llu.%llu s",
                      static_cast<unsigned long long>(tenths / 10),
                      static_cast<unsigned long long>(tenths % 10));
    } else {
        const uint64_t s = (us + 999999) / 1000000;
        std::snprintf(text, sizeof text, "%llu min %02llu s",
                      static_cast<unsigned long long>(s / 60),
                      static_cast<unsigned long long>(s % 60));
    }
    return text;
}

std::string probe_line(int32_t port, const LineSettings& s, int station, bool tcp) {
    std::string line = "regwire probe " + std::to_string(port);
    if (!tcp) {
        line += " --speed " + std::to_string(regwire::kSpeeds[s.speed]) + " --parity " +
                kParityNames[s.parity];
    }
    return line + " --station " + std::to_string(station);
}

namespace {

void print_found(const ScanPlan& plan, const LineSettings& s, int station, int32_t result) {
    const char* how = result == REGWIRE_OK ? "" : " (answered with an exception)";
    if (plan.tcp) {
        std::printf("found: station %d (unit id; speed and parity do not matter)%s\n", station,
                    how);
    } else {
        std::printf("found: speed index %d (%d bit/s), parity index %d (%s), station %d%s\n",
                    s.speed, regwire::kSpeeds[s.speed], s.parity, kParityNames[s.parity], station,
                    how);
    }
    std::printf("  %s\n", probe_line(plan.port, s, station, plan.tcp).c_str());
    std::fflush(stdout);
}

// Reads one register of each station at one setting of the open port; the
// number that answered. `live`: the station being tried is shown on stderr.
int scan_stations(const ScanPlan& plan, const LineSettings& s, bool live) {
    int found = 0;
    for (int station = plan.stations.first; station <= plan.stations.last; ++station) {
        if (live) std::fprintf(stderr, "\r  station %3d", station);
        int32_t value = 0;
        const int32_t read = Get_4X_DX(plan.port, station, 0, 1, &value);
        if (read != REGWIRE_OK && !REGWIRE_IS_EXCEPTION(read)) continue;
        ++found;
        if (live) std::fputc('\n', stderr);
        print_found(plan, s, station, read);
    }
    if (live) std::fputc('\n', stderr);
    return found;
}

}  // namespace

int run_scan(const ScanPlan& plan, const std::string& where) {
    using Clock = std::chrono::steady_clock;
    const auto began = Clock::now();
    std::printf("port %d: %s\n", plan.port, where.c_str());
    std::printf("scanning %zu setting(s) x %d station(s) (%d-%d), %u ms for a reply to start\n",
                plan.settings.size(), station_count(plan), plan.stations.first, plan.stations.last,
                plan.turnaround_us / 1000);
    std::printf("ends within %s (about %s if nothing answers)\n",
                duration_text(scan_bound_us(plan)).c_str(),
                duration_text(scan_typical_us(plan)).c_str());
    std::fflush(stdout);

    // Regwire reads the allowance at open; a fixed one keeps the bound.
    set_env_ms("REGWIRE_TURNAROUND_MS", plan.turnaround_us);
    set_env_ms("REGWIRE_TURNAROUND_MAX_MS", plan.turnaround_us);
    const bool live = ::isatty(STDERR_FILENO) != 0;
    int found = 0;
    bool opened_once = false;
    for (std::size_t i = 0; i < plan.settings.size(); ++i) {
        const LineSettings& s = plan.settings[i];
        std::fprintf(stderr, "[%zu/%zu] %s: stations %d-%d\n", i + 1, plan.settings.size(),
                     settings_text(plan, s).c_str(), plan.stations.first, plan.stations.last);
        if (OpenPort_Modbus(plan.port, s.speed, s.parity) != REGWIRE_OK) {
            char account[512] = "";
            Regwire_lastfailure(plan.port, account, sizeof account);
            std::fprintf(stderr, "regwire: %s\n", printable(account).c_str());
            if (!opened_once) return 1;  // the device itself is wrong: no setting will do
            continue;
        }
        opened_once = true;
        found += scan_stations(plan, s, live);
        ClosePort_Modbus(plan.port);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - began).count();
    std::printf("%d answering combination(s) in %.1f s\n", found, seconds);
    return found > 0 ? 0 : 1;
}

}  // namespace regwire_tool
