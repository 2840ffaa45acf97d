// SPDX-License-Identifier: MIT
#include "port_map.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace regwire {

namespace {

constexpr std::size_t kMaxProblems = 10;  // per file; a garbage file must not flood a detail

bool blank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

// The line without its comment: "#" at the start or after a blank.
std::string_view strip_comment(std::string_view line) {
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '#' && (i == 0 || blank(line[i - 1]))) return line.substr(0, i);
    }
    return line;
}

// Port numbers as OpenPort_Modbus takes them: 1 .. INT32_MAX, digits only.
std::optional<int32_t> parse_port(std::string_view text) {
    if (text.empty() || text.size() > 10) return std::nullopt;
    long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > std::numeric_limits<int32_t>::max()) return std::nullopt;
    return static_cast<int32_t>(value);
}

struct ParsedLine {
    std::optional<MapEntry> entry;
    std::string problem;  // when the line is neither blank nor an entry
};

ParsedLine parse_line(std::string_view raw, int number) {
    ParsedLine out;
    const std::string_view line = trim(strip_comment(raw));
    if (line.empty()) return out;
    const auto eq = line.find('=');
    if (eq == std::string_view::npos) {
        out.problem = "expected \"PORT = DEVICE\"";
        return out;
    }
    const std::string_view key = trim(line.substr(0, eq));
    const std::string_view device = trim(line.substr(eq + 1));
    const auto port = parse_port(key);
    if (!port) {
        out.problem = "port \"" + std::string(key) + "\" is not a number from 1 to 2147483647";
        return out;
    }
    if (auto why = device_problem(device)) {
        out.problem = *why;
        return out;
    }
    out.entry = MapEntry{*port, std::string(device), number};
    return out;
}

void add_problem(MapFile& map, std::size_t& dropped, std::string text) {
    if (map.problems.size() < kMaxProblems) {
        map.problems.push_back(std::move(text));
    } else {
        ++dropped;
    }
}

// Some editors begin a UTF-8 file with a byte-order mark; it is no part of the
// first line.
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::string_view skip_byte_order_mark(std::string_view text) {
    if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
        text.remove_prefix(kByteOrderMark.size());
    }
    return text;
}

const MapEntry* find_entry(const MapFile& map, int32_t port) {
    for (const MapEntry& e : map.entries) {
        if (e.port == port) return &e;
    }
    return nullptr;
}

}  // namespace

const char* source_name(MapSource source) {
    switch (source) {
        case MapSource::Environment:
            return "environment";
        case MapSource::UserFile:
            return "user file";
        case MapSource::SystemFile:
            return "system file";
        case MapSource::Default:
            break;
    }
    return "default";
}

std::optional<std::string> device_problem(std::string_view device) {
    if (device.empty()) return "no device after \"=\"";
    for (char c : device) {
        if (blank(c) || static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            return "the device \"" + std::string(device) +
                   "\" contains a blank or control character";
        }
    }
    if (device.front() != '/' && device.rfind("tcp:", 0) != 0) {
        return "the device \"" + std::string(device) +
               "\" is neither an absolute path nor tcp:HOST:PORT";
    }
    return std::nullopt;
}

MapFile parse_port_map(std::string_view text, const std::string& path) {
    MapFile map;
    map.path = path;
    std::size_t dropped = 0;
    int number = 0;
    text = skip_byte_order_mark(text);
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string_view raw = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++number;
        const std::string where = path + ":" + std::to_string(number) + ": ";
        ParsedLine parsed = parse_line(raw, number);
        if (!parsed.problem.empty()) {
            add_problem(map, dropped, where + parsed.problem + "; line ignored");
        } else if (parsed.entry) {
            if (const MapEntry* first = find_entry(map, parsed.entry->port)) {
                add_problem(map, dropped,
                            where + "port " + std::to_string(first->port) +
                                " is already mapped on line " + std::to_string(first->line) +
                                "; line ignored");
            } else {
                map.entries.push_back(std::move(*parsed.entry));
            }
        }
    }
    if (dropped > 0) {
        map.problems.push_back(path + ": " + std::to_string(dropped) + " more problems");
    }
    return map;
}

MapFile read_port_map(const std::string& path) {
    MapFile empty;
    empty.path = path;
    if (path.empty()) return empty;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        if (errno != ENOENT) empty.problems.push_back(path + ": " + std::strerror(errno));
        return empty;
    }
    struct stat st = {};
    std::string why;
    std::string text;
    if (::fstat(fd, &st) != 0) {
        why = std::strerror(errno);
    } else if (S_ISDIR(st.st_mode)) {
        why = "is a directory, not a file";
    } else if (!S_ISREG(st.st_mode)) {
        why = "is not a regular file";
    } else if (static_cast<std::size_t>(st.st_size) > kMaxMapFileBytes) {
        why = "larger than " + std::to_string(kMaxMapFileBytes) + " bytes; not read";
    } else {
        text.resize(static_cast<std::size_t>(st.st_size));
        std::size_t got = 0;
        while (got < text.size()) {
            const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                why = std::strerror(errno);
                break;
            }
            if (n == 0) break;
            got += static_cast<std::size_t>(n);
        }
        text.resize(got);
    }
    ::close(fd);
    if (!why.empty()) {
        empty.problems.push_back(path + ": " + why);
        return empty;
    }
    return parse_port_map(text, path);
}

std::string user_map_path(const char* xdg_config_home, const char* home) {
    if (xdg_config_home != nullptr && xdg_config_home[0] == '/') {
        return std::string(xdg_config_home) + "/regwire/ports.conf";
    }
    if (home != nullptr && home[0] == '/') return std::string(home) + "/.config/regwire/ports.conf";
    return {};
}

PortMapping resolve_port(int32_t port, const char* env_value, const MapFile& user,
                         const MapFile& system) {
    PortMapping m;
    if (env_value != nullptr && *env_value != '\0') {
        m.device = env_value;
        m.source = MapSource::Environment;
        m.origin = "REGWIRE_PORT" + std::to_string(port);
        return m;
    }
    m.problems = user.problems;
    m.problems.insert(m.problems.end(), system.problems.begin(), system.problems.end());
    const std::pair<const MapFile*, MapSource> files[] = {{&user, MapSource::UserFile},
                                                          {&system, MapSource::SystemFile}};
    for (const auto& [file, source] : files) {
        if (const MapEntry* e = find_entry(*file, port)) {
            m.device = e->device;
            m.source = source;
            m.origin = file->path + ":" + std::to_string(e->line);
            return m;
        }
    }
    m.device = "/dev/ttyS" + std::to_string(static_cast<int64_t>(port) - 1);
    return m;
}

PortMapping resolve_port(int32_t port) {
    const std::string name = "REGWIRE_PORT" + std::to_string(port);
    const char* env = std::getenv(name.c_str());
    if (env != nullptr && *env != '\0') return resolve_port(port, env, MapFile{}, MapFile{});
    const MapFile user =
        read_port_map(user_map_path(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME")));
    const MapFile system = read_port_map(kSystemMapPath);
    return resolve_port(port, nullptr, user, system);
}

std::string describe(const PortMapping& m) {
    std::string out = m.device + " (" + source_name(m.source);
    if (!m.origin.empty()) out += " " + m.origin;
    out += ")";
    for (const std::string& p : m.problems) out += "; " + p;
    return out;
}

void trace_mapping(int32_t port, const PortMapping& mapping) {
    std::fprintf(stderr, "regwire port %d: %s\n", static_cast<int>(port),
                 describe(mapping).c_str());
}

std::string edit_port_map(std::string_view text, int32_t port, const std::string& device) {
    std::string out;
    bool replaced = false;
    int number = 0;
    const std::string entry = std::to_string(port) + " = " + device + "\n";
    const std::string_view body = skip_byte_order_mark(text);
    out = text.substr(0, text.size() - body.size());
    text = body;
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string_view raw = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        const ParsedLine parsed = parse_line(raw, ++number);
        if (parsed.entry && parsed.entry->port == port) {
            // The first entry for the port becomes the new one; later ones go.
            if (!device.empty() && !replaced) out += entry;
            replaced = true;
            continue;
        }
        out += raw;
        out += '\n';
    }
    if (!device.empty() && !replaced) out += entry;
    return out;
}

}  // namespace regwire
