// SPDX-License-Identifier: MIT
// regwire: the port tool. Lists the serial devices and Regwire's port map,
// edits the user's map file, and reads a slave once through a port as the
// programs would. Exit status 0 done, 1 failed, 2 wrong usage; messages on stderr.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "devices.h"
#include "port_map.h"
#include "regwire.h"

namespace {

constexpr int kFailed = 1;
constexpr int kUsage = 2;
constexpr int kListedPorts = 19;  // the programs' port list
constexpr int kBauds[] = {4800, 9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600};
constexpr const char* kParities[] = {"none", "odd", "even"};

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
    "  --help                this text\n"
    "  --version             the version of the tool and of libRegwire\n"
    "\n"
    "Port K is REGWIRE_PORT<K> if set, else the entry in $XDG_CONFIG_HOME/regwire/ports.conf\n"
    "(~/.config/regwire/ports.conf), else in /etc/regwire/ports.conf, else /dev/ttyS<K-1>.\n"
    "Exit status: 0 done, 1 failed, 2 wrong usage.\n";

int usage_error(const std::string& why) {
    std::fprintf(stderr, "regwire: %s\nTry 'regwire --help'.\n", why.c_str());
    return kUsage;
}

int failure(const std::string& why) {
    std::fprintf(stderr, "regwire: %s\n", why.c_str());
    return kFailed;
}

bool parse_int(const std::string& text, long lo, long hi, long& out) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, out);
    return ec == std::errc() && ptr == end && out >= lo && out <= hi;
}

bool parse_port(const std::string& text, int32_t& port) {
    long value = 0;
    if (!parse_int(text, 1, 2147483647L, value)) return false;
    port = static_cast<int32_t>(value);
    return true;
}

std::string user_map() {
    return regwire::user_map_path(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
}

void print_problems(const regwire::MapFile& file) {
    for (const std::string& p : file.problems) std::printf("  problem: %s\n", p.c_str());
}

int cmd_ports() {
    std::printf("Serial devices:\n");
    const auto devices = regwire_tool::serial_devices();
    if (devices.empty()) std::printf("  none found\n");
    for (const auto& d : devices) {
        std::printf("  %s", d.path.c_str());
        if (!d.target.empty()) std::printf(" -> %s", d.target.c_str());
        if (!d.note.empty()) std::printf(" (%s)", d.note.c_str());
        std::printf(": %s\n", regwire_tool::device_access(d.path).text.c_str());
    }

    const regwire::MapFile user = regwire::read_port_map(user_map());
    const regwire::MapFile system = regwire::read_port_map(regwire::kSystemMapPath);
    std::printf("\nMap files:\n  user:   %s\n",
                user.path.empty() ? "(no HOME)" : user.path.c_str());
    print_problems(user);
    std::printf("  system: %s\n", system.path.c_str());
    print_problems(system);

    std::printf("\nPorts:\n");
    for (int32_t k = 1; k <= kListedPorts; ++k) {
        const std::string name = "REGWIRE_PORT" + std::to_string(k);
        const auto m = regwire::resolve_port(k, std::getenv(name.c_str()), user, system);
        std::printf("  %2d  %-28s %-12s %s\n", k, m.device.c_str(), regwire::source_name(m.source),
                    regwire_tool::device_access(m.device).text.c_str());
    }
    return 0;
}

// Replaces the user's map file through a temporary file in the same folder, so
// that a reader sees the old or the new file, never half of one.
int write_map(int32_t port, const std::string& device) {
    const std::string path = user_map();
    if (path.empty()) return failure("neither XDG_CONFIG_HOME nor HOME names a folder");
    std::error_code ec;
    const std::filesystem::path dir = std::filesystem::path(path).parent_path();
    std::filesystem::create_directories(dir, ec);
    if (ec) return failure("cannot create " + dir.string() + ": " + ec.message());

    std::string text;
    mode_t mode = 0644;
    if (FILE* in = std::fopen(path.c_str(), "rb")) {
        struct stat st = {};
        if (::fstat(fileno(in), &st) == 0) mode = st.st_mode & 07777;
        if (!S_ISREG(st.st_mode) ||
            static_cast<std::size_t>(st.st_size) > regwire::kMaxMapFileBytes) {
            std::fclose(in);
            return failure(path + " is not a map file; left as it is");
        }
        char buf[4096];
        std::size_t n = 0;
        while ((n = std::fread(buf, 1, sizeof buf, in)) > 0) text.append(buf, n);
        const bool bad = std::ferror(in) != 0;
        std::fclose(in);
        if (bad) return failure("cannot read " + path);
    } else if (errno != ENOENT) {
        return failure("cannot read " + path + ": " + std::strerror(errno));
    }

    const std::string updated = regwire::edit_port_map(text, port, device);
    std::string temp = path + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) return failure("cannot write in " + dir.string() + ": " + std::strerror(errno));
    std::size_t done = 0;
    bool ok = ::fchmod(fd, mode) == 0;
    while (ok && done < updated.size()) {
        const ssize_t n = ::write(fd, updated.data() + done, updated.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<std::size_t>(n);
    }
    ok = ok && ::fsync(fd) == 0;
    const int err = errno;
    ok = ::close(fd) == 0 && ok;
    if (!ok || ::rename(temp.c_str(), path.c_str()) != 0) {
        const std::string why = std::strerror(ok ? errno : err);
        ::unlink(temp.c_str());
        return failure("cannot write " + path + ": " + why);
    }
    if (device.empty()) {
        std::printf("port %d unmapped in %s\n", port, path.c_str());
    } else {
        std::printf("port %d = %s in %s\n", port, device.c_str(), path.c_str());
    }
    const std::string env = "REGWIRE_PORT" + std::to_string(port);
    if (const char* v = std::getenv(env.c_str()); v != nullptr && *v != '\0') {
        std::fprintf(stderr, "regwire: note: %s=%s is set and comes before the map\n", env.c_str(),
                     v);
    }
    return 0;
}

int cmd_map(const std::vector<std::string>& args) {
    int32_t port = 0;
    if (args.size() != 2) return usage_error("map takes a port number and a device");
    if (!parse_port(args[0], port)) return usage_error("no port number: " + args[0]);
    if (auto why = regwire::device_problem(args[1])) return usage_error(*why);
    if (args[1].rfind("tcp:", 0) != 0 && ::access(args[1].c_str(), F_OK) != 0) {
        std::fprintf(stderr, "regwire: note: %s does not exist now\n", args[1].c_str());
    }
    return write_map(port, args[1]);
}

int cmd_unmap(const std::vector<std::string>& args) {
    int32_t port = 0;
    if (args.size() != 1) return usage_error("unmap takes a port number");
    if (!parse_port(args[0], port)) return usage_error("no port number: " + args[0]);
    return write_map(port, {});
}

int speed_index(const std::string& text) {
    long value = 0;
    if (!parse_int(text, 0, 1000000, value)) return -1;
    if (value <= 8) return static_cast<int>(value);
    if (value == 961200) return 8;  // the operator's list names 921600 so
    for (int i = 0; i < 9; ++i) {
        if (kBauds[i] == value) return i;
    }
    return -1;
}

int parity_index(const std::string& text) {
    const std::string names[][3] = {{"none", "n", "0"}, {"odd", "o", "1"}, {"even", "e", "2"}};
    std::string lower;
    for (char c : text) lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    for (int i = 0; i < 3; ++i) {
        for (const std::string& n : names[i]) {
            if (lower == n) return i;
        }
    }
    return -1;
}

int cmd_probe(const std::vector<std::string>& args) {
    if (args.empty()) return usage_error("probe takes a port number");
    int32_t port = 0;
    if (!parse_port(args[0], port)) return usage_error("no port number: " + args[0]);
    int speed = 3;
    int parity = 2;
    long station = 1;
    long address = 0;
    long count = 10;
    for (std::size_t i = 1; i < args.size(); i += 2) {
        const std::string& opt = args[i];
        if (i + 1 >= args.size()) return usage_error(opt + " needs a value");
        const std::string& value = args[i + 1];
        bool ok = true;
        if (opt == "--speed") {
            ok = (speed = speed_index(value)) >= 0;
        } else if (opt == "--parity") {
            ok = (parity = parity_index(value)) >= 0;
        } else if (opt == "--station") {
            ok = parse_int(value, 1, 247, station);
        } else if (opt == "--address") {
            ok = parse_int(value, 0, 65535, address);
        } else if (opt == "--count") {
            ok = parse_int(value, 1, 125, count);
        } else {
            return usage_error("unknown option " + opt);
        }
        if (!ok) return usage_error("bad value for " + opt + ": " + value);
    }
    if (address + count - 1 > 65535) return usage_error("the registers pass address 65535");

    const regwire::PortMapping mapping = regwire::resolve_port(port);
    std::printf("port %d: %s\n", port, regwire::describe(mapping).c_str());
    std::printf("%d bit/s, parity %s, station %ld, %ld registers from %ld\n", kBauds[speed],
                kParities[parity], station, count, address);
    std::fflush(stdout);

    const int32_t opened = OpenPort_Modbus(port, speed, parity);
    if (opened != REGWIRE_OK) {
        const auto access = regwire_tool::device_access(mapping.device);
        std::string why = "cannot open port " + std::to_string(port) + " (" + mapping.device +
                          "): " + Regwire_strerror(opened);
        if (!access.ok) why += "; " + access.text;
        return failure(why);
    }
    std::vector<int32_t> values(static_cast<std::size_t>(count));
    const int32_t read =
        Get_4X_DX(port, static_cast<int32_t>(station), static_cast<int32_t>(address),
                  static_cast<int32_t>(count), values.data());
    ClosePort_Modbus(port);
    if (read != REGWIRE_OK) {
        return failure("reading port " + std::to_string(port) +
                       " failed: " + Regwire_strerror(read));
    }
    for (long i = 0; i < count; ++i) {
        const int32_t v = values[static_cast<std::size_t>(i)];
        std::printf("%5ld: %6d  0x%04x\n", address + i, v, static_cast<unsigned>(v) & 0xFFFFu);
    }
    return 0;
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
    return usage_error("unknown command " + command);
}
