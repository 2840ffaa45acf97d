// SPDX-License-Identifier: MIT
// Edits the user's map file the one safe way: under a lock beside it, reading
// only a regular file, replacing it through a temporary file.
#pragma once

#include <cstdint>
#include <string>

namespace regwire_tool {

struct MapUpdate {
    bool ok = false;
    std::string path;  // the file written
    std::string why;   // when not ok
};

// Maps `port` to `device` in the map file at `path` (removes it when `device` is
// empty), creating the file and its folder as needed. Concurrent updates are
// serialised by flock() on `path`.lock, so none is lost. A path that is, or links
// to, anything but a regular file is left alone, and never opened in a way that
// could block. An existing file keeps its mode; a new one gets 0666 less the
// umask. A link to a regular file is followed, so the link stays.
MapUpdate update_map_file(const std::string& path, int32_t port, const std::string& device);

}  // namespace regwire_tool
