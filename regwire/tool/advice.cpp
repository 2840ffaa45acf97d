// SPDX-License-Identifier: MIT
#include "advice.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "regwire.h"

namespace regwire_tool {

namespace {

namespace fs = std::filesystem;

const char kInProgress[] = "Operation now in progress";

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

bool is_tcp(const std::string& device) {
    return device.rfind("tcp:", 0) == 0;
}

void silent_slave(const ProbeFailure& f, std::vector<std::string>& out) {
    const std::string k = std::to_string(f.port);
    const std::string station = std::to_string(f.station);
    out.push_back("No reply. Likely causes:");
    if (is_tcp(f.device)) {
        out.push_back("  - the unit id: the device may not answer unit " + station +
                      " (regwire scan " + k + " --speed 0 --parity none tries 1-247)");
        out.push_back("  - a gateway with no slave behind it at that unit id, or a slow one");
        return;
    }
    out.push_back("  - the station: the slave may not be station " + station + " (regwire scan " +
                  k + " tries every station, speed and parity)");
    out.push_back("  - the speed or parity: the slave's may differ from " + std::to_string(f.baud) +
                  " bit/s, parity " + f.parity);
    out.push_back(
        "  - the wiring: the adapter on the right device, the slave powered, a common ground, "
        "the line terminated");
    out.push_back("  - A and B swapped: on RS-485 exchange the two data wires and try again");
}

}  // namespace

bool says_busy(const std::string& account) {
    return account.find("in use by another") != std::string::npos ||
           account.find("Device or resource busy") != std::string::npos;
}

std::vector<std::string> failure_advice(const ProbeFailure& f,
                                        const std::vector<std::string>& holders) {
    std::vector<std::string> out;
    const bool connecting = is_tcp(f.device) && f.account.find(kInProgress) != std::string::npos;
    if (!f.account.empty()) {
        out.push_back(connecting ? replace_all(f.account, kInProgress, "timed out connecting")
                                 : f.account);
    }
    if (connecting) {
        out.push_back(
            "The device did not accept the connection in time: it is unreachable, "
            "or it is busy with other connections.");
    }
    if (f.result == REGWIRE_ETIMEOUT) silent_slave(f, out);
    if (f.result == REGWIRE_EOPEN && says_busy(f.account)) {
        if (holders.empty()) {
            out.push_back("Another program holds " + f.device + "; close it and try again.");
        }
        for (const std::string& h : holders) out.push_back("Held by " + h + ".");
    }
    if (!f.mapped) {
        out.push_back("Port " + std::to_string(f.port) + " is not mapped; it means " + f.device +
                      ". Map your adapter (regwire ports lists the devices):");
        out.push_back("  regwire map " + std::to_string(f.port) + " DEVICE");
    }
    return out;
}

std::vector<pid_t> lock_holders(const std::string& proc_locks, dev_t dev, ino_t inode) {
    // "1: FLOCK  ADVISORY  WRITE 1234 00:05:87 0 EOF": the filesystem's device in
    // hexadecimal major:minor, then the inode.
    std::vector<pid_t> out;
    std::istringstream in(proc_locks);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string number, kind, mode, access, where;
        long pid = 0;
        if (!(fields >> number >> kind)) continue;
        if (kind == "->") fields >> kind;  // a waiter, listed under the holder
        if (!(fields >> mode >> access >> pid >> where)) continue;
        unsigned major_no = 0;
        unsigned minor_no = 0;
        unsigned long ino = 0;
        if (std::sscanf(where.c_str(), "%x:%x:%lu", &major_no, &minor_no, &ino) != 3) continue;
        if (makedev(major_no, minor_no) == dev && ino == inode && pid > 0 &&
            std::find(out.begin(), out.end(), pid) == out.end()) {
            out.push_back(static_cast<pid_t>(pid));
        }
    }
    return out;
}

namespace {

std::string describe_pid(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(in, name);
    return "pid " + std::to_string(pid) + (name.empty() ? "" : " (" + name + ")");
}

std::vector<pid_t> openers(const fs::path& device) {
    std::vector<pid_t> out;
    std::error_code ec;
    for (const auto& proc : fs::directory_iterator("/proc", ec)) {
        long pid = 0;
        const std::string name = proc.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        pid = std::stol(name);
        if (pid == ::getpid()) continue;
        std::error_code fd_ec;
        for (const auto& fd : fs::directory_iterator(proc.path() / "fd", fd_ec)) {
            std::error_code link_ec;
            if (fs::read_symlink(fd.path(), link_ec) == device) {
                out.push_back(static_cast<pid_t>(pid));
                break;
            }
        }
    }
    return out;
}

}  // namespace

std::vector<std::string> device_holders(const std::string& device) {
    struct stat st = {};
    if (is_tcp(device) || ::stat(device.c_str(), &st) != 0) return {};
    std::ifstream in("/proc/locks");
    std::stringstream text;
    text << in.rdbuf();
    std::vector<pid_t> pids = lock_holders(text.str(), st.st_dev, st.st_ino);
    pids.erase(std::remove(pids.begin(), pids.end(), ::getpid()), pids.end());
    if (pids.empty()) {
        std::error_code ec;
        pids = openers(fs::canonical(device, ec));
    }
    std::vector<std::string> out;
    for (pid_t pid : pids) out.push_back(describe_pid(pid));
    return out;
}

}  // namespace regwire_tool
