// SPDX-License-Identifier: MIT
#include "map_update.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "port_map.h"

namespace regwire_tool {

namespace {

namespace fs = std::filesystem;

std::string os_error(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

// A descriptor closed when it goes out of scope (the lock is released with it).
class Fd {
  public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

// Takes the lock beside the map. The lock file is never a FIFO or a link (a
// link could make us create or truncate a file elsewhere).
bool lock_beside(const std::string& path, std::string& why, int& out) {
    const std::string lock = path + ".lock";
    out = ::open(lock.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY,
                 0666);
    struct stat st = {};
    if (out < 0 || ::fstat(out, &st) != 0) {
        why = os_error("cannot use the lock file " + lock);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        why = lock + " is not a regular file; left as it is";
        return false;
    }
    while (::flock(out, LOCK_EX) != 0) {
        if (errno != EINTR) {
            why = os_error("cannot lock " + lock);
            return false;
        }
    }
    return true;
}

struct Current {
    std::string target;  // the file to replace: the path, or where its link leads
    std::string text;
    mode_t mode = 0;  // 0: no file yet
};

// Reads the map without ever blocking on a FIFO or a device: the kind is checked
// before the open, the open does not wait, and the kind is checked again on the
// open file.
bool read_current(const std::string& path, Current& cur, std::string& why) {
    cur.target = path;
    struct stat st = {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) return true;
        why = os_error("cannot read " + path);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        why = path + " is not a regular file; left as it is";
        return false;
    }
    std::error_code ec;
    if (fs::is_symlink(path, ec)) cur.target = fs::canonical(path, ec).string();
    if (ec) {
        why = "cannot follow " + path + ": " + ec.message();
        return false;
    }
    const Fd fd(
        ::open(cur.target.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0) {
        why = os_error("cannot read " + path);
        return false;
    }
    if (!S_ISREG(st.st_mode) || static_cast<std::size_t>(st.st_size) > regwire::kMaxMapFileBytes) {
        why = path + " is not a map file; left as it is";
        return false;
    }
    cur.mode = st.st_mode & 07777;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            why = os_error("cannot read " + path);
            return false;
        }
        if (n == 0) return true;
        cur.text.append(buf, static_cast<std::size_t>(n));
    }
}

mode_t new_file_mode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// Writes `text` to a temporary file beside `target` and renames it over `target`.
bool replace(const std::string& target, const std::string& text, mode_t mode, std::string& why) {
    std::string temp = target + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        why = os_error("cannot write beside " + target);
        return false;
    }
    std::size_t done = 0;
    bool ok = ::fchmod(fd, mode) == 0;
    while (ok && done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<std::size_t>(n);
    }
    ok = ok && ::fsync(fd) == 0;
    const int err = errno;
    ok = ::close(fd) == 0 && ok;
    if (!ok || ::rename(temp.c_str(), target.c_str()) != 0) {
        why = "cannot write " + target + ": " + std::strerror(ok ? errno : err);
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace

MapUpdate update_map_file(const std::string& path, int32_t port, const std::string& device) {
    MapUpdate out;
    out.path = path;
    std::error_code ec;
    const fs::path dir = fs::path(path).parent_path();
    fs::create_directories(dir, ec);
    if (ec) {
        out.why = "cannot create " + dir.string() + ": " + ec.message();
        return out;
    }
    int lock_fd = -1;
    const bool locked = lock_beside(path, out.why, lock_fd);
    const Fd lock(lock_fd);
    if (!locked) return out;
    Current cur;
    if (!read_current(path, cur, out.why)) return out;
    const std::string updated = regwire::edit_port_map(cur.text, port, device);
    out.path = cur.target;
    out.ok = replace(cur.target, updated, cur.mode != 0 ? cur.mode : new_file_mode(), out.why);
    return out;
}

}  // namespace regwire_tool
