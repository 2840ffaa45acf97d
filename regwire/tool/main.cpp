// SPDX-License-Identifier: MIT
// regwire: the port tool. Lists the serial devices and Regwire's port map,
// edits the user's map file, reads a slave once through a port as the programs
// would, and finds a slave whose settings are unknown. Exit status 0 done,
// 1 failed, 2 wrong usage; messages on stderr.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "advice.h"
#include "devices.h"
#include "line.h"
#include "map_update.h"
#include "options.h"
#include "port_map.h"
#include "printable.h"
#include "regwire.h"
#include "scan.h"

namespace {

using namespace regwire_tool;

constexpr int kFailed = 1;
constexpr int kUsage = 2;
using regwire::kListedPorts;
using regwire::kSpeeds;
constexpr const char* kParities[] = {"none", "odd", "even"};
// What scan allows a slave to start its reply, unless REGWIRE_TURNAROUND_MS says.
constexpr uint32_t kScanTurnaroundUs = 50000;

const char kUsageText[] =
    "Usage: regwire COMMAND [ARGUMENTS]\n"
    "\n"
    "  ports                 the serial devices of this machine, the map of ports 1-19 and\n"
    "                        whether you may open each device\n"
    "  map K DEVICE          map port K to DEVICE (a path, or tcp:HOST:PORT) in your map file\n"
    "  unmap K               remove port K from your map file\n"
    "  probe K [OPTIONS]     open port K as the programs do and read holding registers once\n"
    "      --speed I         speed index 0-8 or bit rate (default 3: 38400)\n"
    "      --parity P        none, odd or even (default even)\n"
    "      --station N       station address 1-247 (default 1)\n"
    "      --address A       first register 0-65535 (default 0)\n"
    "      --count C         registers 1-125 (default 10)\n"
    "  scan K [OPTIONS]      find a slave on port K: try speeds, parities and stations\n"
    "                        (9600 and 19200 bit/s, even and no parity first), print each\n"
    "                        that answers, and end within the time printed first\n"
    "      --station N|A-B   only these stations (default 1-247)\n"
    "      --speed I,...     only these speeds (indexes or bit rates; default all)\n"
    "      --parity P,...    only these parities (default all)\n"
    "  --help                this text\n"
    "  --version             the version of the tool and of libRegwire\n"
    "\n"
    "Port K is REGWIRE_PORT<K> if set, else the entry in $XDG_CONFIG_HOME/regwire/ports.conf\n"
    "(~/.config/regwire/ports.conf), else in /etc/regwire/ports.conf, else /dev/ttyS<K-1>.\n"
    "scan waits 50 ms for a reply to start, or REGWIRE_TURNAROUND_MS.\n"
    "Exit status: 0 done (scan: something answered), 1 failed, 2 wrong usage.\n";

int usage_error(const std::string& why) {
    std::fprintf(stderr, "regwire: %s\nTry 'regwire --help'.\n", printable(why).c_str());
    return kUsage;
}

int failure(const std::string& why) {
    std::fprintf(stderr, "regwire: %s\n", printable(why).c_str());
    return kFailed;
}

std::string user_map() {
    return regwire::user_map_path(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
}

void print_problems(const regwire::MapFile& file) {
    for (const std::string& p : file.problems) std::printf("  problem: %s\n", printable(p).c_str());
}

int cmd_ports() {
    std::printf("Serial devices:\n");
    const auto devices = serial_devices();
    if (devices.empty()) std::printf("  none found\n");
    for (const auto& d : devices) {
        std::printf("  %s", printable(d.path).c_str());
        if (!d.target.empty()) std::printf(" -> %s", printable(d.target).c_str());
        if (!d.note.empty()) std::printf(" (%s)", d.note.c_str());
        std::printf(": %s\n", device_access(d.path).text.c_str());
    }

    const regwire::MapFile user = regwire::read_port_map(user_map());
    const regwire::MapFile system = regwire::read_port_map(regwire::kSystemMapPath);
    std::printf("\nMap files:\n  user:   %s\n",
                user.path.empty() ? "(no HOME)" : printable(user.path).c_str());
    print_problems(user);
    std::printf("  system: %s\n", system.path.c_str());
    print_problems(system);

    std::printf("\nPorts:\n");
    for (int32_t k = 1; k <= kListedPorts; ++k) {
        const std::string name = "REGWIRE_PORT" + std::to_string(k);
        const auto m = regwire::resolve_port(k, std::getenv(name.c_str()), user, system);
        std::printf("  %2d  %-28s %-12s %s\n", k, printable(m.device).c_str(),
                    regwire::source_name(m.source), device_access(m.device).text.c_str());
    }
    return 0;
}

int write_map(int32_t port, const std::string& device) {
    const std::string path = user_map();
    if (path.empty()) return failure("neither XDG_CONFIG_HOME nor HOME names a folder");
    const MapUpdate done = update_map_file(path, port, device);
    if (!done.ok) return failure(done.why);
    if (device.empty()) {
        std::printf("port %d unmapped in %s\n", port, printable(done.path).c_str());
    } else {
        std::printf("port %d = %s in %s\n", port, printable(device).c_str(),
                    printable(done.path).c_str());
    }
    const std::string env = "REGWIRE_PORT" + std::to_string(port);
    if (const char* v = std::getenv(env.c_str()); v != nullptr && *v != '\0') {
        std::fprintf(stderr, "regwire: note: %s=%s is set and comes before the map\n", env.c_str(),
                     printable(v).c_str());
    }
    return 0;
}

int cmd_map(const std::vector<std::string>& args) {
    int32_t port = 0;
    if (args.size() != 2) return usage_error("map takes a port number and a device");
    if (!parse_port(args[0], port)) return usage_error("no port number: " + args[0]);
    if (auto why = regwire::device_problem(args[1])) return usage_error(*why);
    if (auto why = tcp_address_problem(args[1])) return usage_error(*why);
    if (args[1].rfind("tcp:", 0) != 0 && ::access(args[1].c_str(), F_OK) != 0) {
        std::fprintf(stderr, "regwire: note: %s does not exist now\n", printable(args[1]).c_str());
    }
    return write_map(port, args[1]);
}

int cmd_unmap(const std::vector<std::string>& args) {
    int32_t port = 0;
    if (args.size() != 1) return usage_error("unmap takes a port number");
    if (!parse_port(args[0], port)) return usage_error("no port number: " + args[0]);
    return write_map(port, {});
}

// The library's account of the port's last failure.
std::string last_failure(int32_t port) {
    char text[1024] = "";
    Regwire_lastfailure(port, text, sizeof text);
    return text;
}

int report_probe_failure(ProbeFailure f, const std::string& what) {
    f.account = last_failure(f.port);
    std::fprintf(stderr, "regwire: %s: %s\n", what.c_str(), Regwire_strerror(f.result));
    std::vector<std::string> holders;
    if (f.result == REGWIRE_EOPEN && says_busy(f.account)) holders = device_holders(f.device);
    if (f.result == REGWIRE_EOPEN) {
        if (const auto access = device_access(f.device); !access.ok) {
            f.account += "; " + access.text;
        }
    }
    for (const std::string& line : failure_advice(f, holders)) {
        std::fprintf(stderr, "%s\n", printable(line).c_str());
    }
    return kFailed;
}

struct ProbeOptions {
    int32_t port = 0;
    int speed = 3;
    int parity = 2;
    long station = 1;
    long address = 0;
    long count = 10;
};

// Reads "COMMAND K --option value ...": the port into `port`, each pair through
// `take(option, value)`, which says whether it knows the option (nullopt: no)
// and whether the value was good. The usage error, if any.
template <typename Take>
std::optional<std::string> read_options(const std::vector<std::string>& args, const char* command,
                                        int32_t& port, Take take) {
    if (args.empty()) return std::string(command) + " takes a port number";
    if (!parse_port(args[0], port)) return "no port number: " + args[0];
    for (std::size_t i = 1; i < args.size(); i += 2) {
        const std::string& opt = args[i];
        if (i + 1 >= args.size()) return opt + " needs a value";
        const std::string& value = args[i + 1];
        const std::optional<bool> ok = take(opt, value);
        if (!ok) return "unknown option " + opt;
        if (!*ok) return "bad value for " + opt + ": " + value;
    }
    return std::nullopt;
}

// Reads probe's arguments into `o`; the usage error, if any.
std::optional<std::string> read_probe_options(const std::vector<std::string>& args,
                                              ProbeOptions& o) {
    auto why =
        read_options(args, "probe", o.port,
                     [&](const std::string& opt, const std::string& value) -> std::optional<bool> {
                         if (opt == "--speed") return (o.speed = speed_index(value)) >= 0;
                         if (opt == "--parity") return (o.parity = parity_index(value)) >= 0;
                         if (opt == "--station") return parse_int(value, 1, 247, o.station);
                         if (opt == "--address") return parse_int(value, 0, 65535, o.address);
                         if (opt == "--count") return parse_int(value, 1, 125, o.count);
                         return std::nullopt;
                     });
    if (!why && o.address + o.count - 1 > 65535) return "the registers pass address 65535";
    return why;
}

int cmd_probe(const std::vector<std::string>& args) {
    ProbeOptions o;
    if (auto why = read_probe_options(args, o)) return usage_error(*why);
    const regwire::PortMapping mapping = regwire::resolve_port(o.port);
    std::printf("port %d: %s\n", o.port, printable(regwire::describe(mapping)).c_str());
    std::printf("%d bit/s, parity %s, station %ld, %ld registers from %ld\n", kSpeeds[o.speed],
                kParities[o.parity], o.station, o.count, o.address);
    std::fflush(stdout);

    ProbeFailure f;
    f.port = o.port;
    f.device = mapping.device;
    f.mapped = mapping.source != regwire::MapSource::Default;
    f.baud = kSpeeds[o.speed];
    f.parity = kParities[o.parity];
    f.station = o.station;
    f.result = OpenPort_Modbus(o.port, o.speed, o.parity);
    if (f.result != REGWIRE_OK) {
        return report_probe_failure(f, "cannot open port " + std::to_string(o.port));
    }
    std::vector<int32_t> values(static_cast<std::size_t>(o.count));
    f.result = Get_4X_DX(o.port, static_cast<int32_t>(o.station), static_cast<int32_t>(o.address),
                         static_cast<int32_t>(o.count), values.data());
    ClosePort_Modbus(o.port);
    if (f.result != REGWIRE_OK) {
        return report_probe_failure(f, "reading port " + std::to_string(o.port) + " failed");
    }
    for (long i = 0; i < o.count; ++i) {
        const int32_t v = values[static_cast<std::size_t>(i)];
        std::printf("%5ld: %6d  0x%04x\n", o.address + i, v, static_cast<unsigned>(v) & 0xFFFFu);
    }
    return 0;
}

// The allowance scan waits for a reply to start: REGWIRE_TURNAROUND_MS when it
// is set as Regwire reads it, else a short one.
uint32_t scan_turnaround_us() {
    long ms = 0;
    const char* text = std::getenv("REGWIRE_TURNAROUND_MS");
    if (text != nullptr && parse_int(text, 0, 60000, ms)) return static_cast<uint32_t>(ms) * 1000u;
    return kScanTurnaroundUs;
}

// Reads scan's arguments into `plan` (port and stations) and the speeds and
// parities to keep; the usage error, if any.
std::optional<std::string> read_scan_options(const std::vector<std::string>& args, ScanPlan& plan,
                                             std::vector<int>& speeds, std::vector<int>& parities) {
    return read_options(
        args, "scan", plan.port,
        [&](const std::string& opt, const std::string& value) -> std::optional<bool> {
            if (opt == "--speed") return !(speeds = parse_list(value, speed_index)).empty();
            if (opt == "--parity") return !(parities = parse_list(value, parity_index)).empty();
            if (opt == "--station") {
                const auto range = parse_stations(value);
                if (range) plan.stations = *range;
                return range.has_value();
            }
            return std::nullopt;
        });
}

int cmd_scan(const std::vector<std::string>& args) {
    ScanPlan plan;
    std::vector<int> speeds;
    std::vector<int> parities;
    if (auto why = read_scan_options(args, plan, speeds, parities)) return usage_error(*why);
    const regwire::PortMapping mapping = regwire::resolve_port(plan.port);
    plan.tcp = mapping.device.rfind("tcp:", 0) == 0;
    // Over TCP the speed and parity are unused: one pass, at the first asked for.
    plan.settings = scan_order(speeds, parities);
    if (plan.tcp) plan.settings.resize(1);
    plan.turnaround_us = scan_turnaround_us();
    return run_scan(plan, printable(regwire::describe(mapping)));
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) return usage_error("no command");
    const std::string command = args.front();
    args.erase(args.begin());
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kUsageText, stdout);
        return 0;
    }
    if (command == "--version" || command == "-V") {
        std::printf("regwire %s\n", Regwire_version());
        return 0;
    }
    if (command == "ports")
        return args.empty() ? cmd_ports() : usage_error("ports takes no arguments");
    if (command == "map") return cmd_map(args);
    if (command == "unmap") return cmd_unmap(args);
    if (command == "probe") return cmd_probe(args);
    if (command == "scan") return cmd_scan(args);
    return usage_error("unknown command " + command);
}
