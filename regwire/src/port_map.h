// SPDX-License-Identifier: MIT
// The map of port numbers to devices: which device (or tcp:HOST:PORT) port k
// names, and where that came from. In order: REGWIRE_PORT<k>, the user's map
// file, the system's map file, /dev/ttyS<k-1>.
//
// A map file has one "k = device" a line; "#" at the start of a line or after
// a blank begins a comment; blank lines are ignored. A line that cannot be read
// is ignored and reported as a problem naming its file and line, so that a port
// is never mapped elsewhere without a word.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace regwire {

enum class MapSource { Environment, UserFile, SystemFile, Default };

// "environment", "user file", "system file", "default".
const char* source_name(MapSource source);

struct MapEntry {
    int32_t port = 0;
    std::string device;
    int line = 0;
};

struct MapFile {
    std::string path;
    std::vector<MapEntry> entries;      // valid lines, one per port, in file order
    std::vector<std::string> problems;  // "PATH:LINE: why" or "PATH: why"
};

// Files larger than this are not read (a map has a few dozen lines).
inline constexpr std::size_t kMaxMapFileBytes = 1 << 20;

// Parses the text of a map file. Pure.
MapFile parse_port_map(std::string_view text, const std::string& path);

// Reads and parses the file at `path`. A missing file is an empty map without
// problems; a directory, an unreadable or an oversized file is an empty map
// with one problem.
MapFile read_port_map(const std::string& path);

// $XDG_CONFIG_HOME/regwire/ports.conf, else $HOME/.config/regwire/ports.conf,
// else "" (no user map). A relative XDG_CONFIG_HOME is ignored, as the XDG
// rules say. Pure.
std::string user_map_path(const char* xdg_config_home, const char* home);

inline constexpr const char* kSystemMapPath = "/etc/regwire/ports.conf";

struct PortMapping {
    std::string device;
    MapSource source = MapSource::Default;
    std::string origin;                 // "REGWIRE_PORT6", "PATH:LINE", or ""
    std::vector<std::string> problems;  // of the map files consulted
};

// Port `port` (>= 1) from its environment value (nullptr or "" when unset) and
// the two maps. Pure.
PortMapping resolve_port(int32_t port, const char* env_value, const MapFile& user,
                         const MapFile& system);

// The same from this process's environment and files, as Regwire opens a port.
PortMapping resolve_port(int32_t port);

// REGWIRE_TRACE: "regwire port 6: " and describe() on standard error.
void trace_mapping(int32_t port, const PortMapping& mapping);

// One line for people: "/dev/ttyUSB0 (user file PATH:3)"; problems follow,
// each after "; ".
std::string describe(const PortMapping& mapping);

// The text of a map file with port `port` mapped to `device`, or its entries
// removed when `device` is empty. Comments, other lines and the order are kept;
// a new entry goes at the end. Pure.
std::string edit_port_map(std::string_view text, int32_t port, const std::string& device);

// Why `device` cannot be the right-hand side of a map line, or nullopt.
std::optional<std::string> device_problem(std::string_view device);

}  // namespace regwire
