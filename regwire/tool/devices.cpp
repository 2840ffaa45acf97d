// SPDX-License-Identifier: MIT
#include "devices.h"

#include <errno.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace regwire_tool {

namespace fs = std::filesystem;

namespace {

bool starts_with(const std::string& s, const char* prefix) {
    return s.rfind(prefix, 0) == 0;
}

// The kernel's serial core numbers the port type; 0 means no UART answers there.
std::string uart_type(const std::string& name) {
    std::ifstream in("/sys/class/tty/" + name + "/type");
    int type = 0;
    if (!(in >> type) || type == 0) return {};
    return "UART type " + std::to_string(type);
}

bool process_in_group(gid_t gid) {
    if (getegid() == gid) return true;
    const int n = getgroups(0, nullptr);
    if (n <= 0) return false;
    std::vector<gid_t> groups(static_cast<std::size_t>(n));
    const int got = getgroups(n, groups.data());
    return got > 0 && std::find(groups.begin(), groups.begin() + got, gid) != groups.begin() + got;
}

bool user_listed_in_group(const group& g) {
    const passwd* pw = getpwuid(getuid());
    if (pw == nullptr || g.gr_mem == nullptr) return false;
    for (char** m = g.gr_mem; *m != nullptr; ++m) {
        if (std::strcmp(*m, pw->pw_name) == 0) return true;
    }
    return false;
}

}  // namespace

std::vector<SerialDevice> serial_devices() {
    std::vector<SerialDevice> out;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator("/dev/serial/by-id", ec)) {
        const fs::path target = fs::canonical(e.path(), ec);
        out.push_back({e.path().string(), ec ? "(dangling)" : target.string(), {}});
    }
    std::vector<SerialDevice> ttys;
    for (const auto& e : fs::directory_iterator("/dev", ec)) {
        const std::string name = e.path().filename().string();
        if (starts_with(name, "ttyUSB") || starts_with(name, "ttyACM")) {
            ttys.push_back({e.path().string(), {}, {}});
        } else if (starts_with(name, "ttyS")) {
            const std::string type = uart_type(name);
            if (!type.empty()) ttys.push_back({e.path().string(), {}, type});
        }
    }
    std::sort(ttys.begin(), ttys.end(), [](const SerialDevice& a, const SerialDevice& b) {
        return a.path.size() != b.path.size() ? a.path.size() < b.path.size() : a.path < b.path;
    });
    out.insert(out.end(), ttys.begin(), ttys.end());
    return out;
}

Access device_access(const std::string& device) {
    if (starts_with(device, "tcp:")) return {true, "ok (TCP)"};
    struct stat st = {};
    if (::stat(device.c_str(), &st) != 0) {
        if (errno == ENOENT) return {false, "no such device"};
        return {false, std::string("cannot be opened: ") + std::strerror(errno)};
    }
    if (::access(device.c_str(), R_OK | W_OK) == 0) return {true, "ok"};
    const int err = errno;
    const group* g = getgrgid(st.st_gid);
    if (err != EACCES || g == nullptr || st.st_gid == 0) {
        return {false, std::string("cannot be opened: ") + std::strerror(err)};
    }
    const std::string name = g->gr_name;
    if (process_in_group(st.st_gid)) {
        return {false, "no permission, although this login is in group " + name};
    }
    if (user_listed_in_group(*g)) {
        return {false, "no permission: you were added to group " + name +
                           ", which takes effect at your next login"};
    }
    return {false, "no permission: join group " + name + " (sudo adduser $USER " + name +
                       "), then log in again"};
}

}  // namespace regwire_tool
