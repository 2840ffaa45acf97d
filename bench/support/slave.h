// A benchslave on a fresh pseudo-terminal, run as a child process.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "child.h"

namespace benchsupport {

struct SlaveOnPty {
    std::unique_ptr<Child> process;
    std::string pts;  // what a master opens
};

// Starts `benchslave_path --pty args...` and waits up to 10 s for its pts path.
// Returns false with the reason in `error`.
bool start_slave(const std::string& benchslave_path, const std::vector<std::string>& args,
                 SlaveOnPty& slave, std::string& error);

}  // namespace benchsupport
