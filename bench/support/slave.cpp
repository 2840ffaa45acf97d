#include "slave.h"

namespace benchsupport {

bool start_slave(const std::string& benchslave_path, const std::vector<std::string>& args,
                 SlaveOnPty& slave, std::string& error) {
    SpawnOptions options;
    options.argv = {benchslave_path, "--pty"};
    options.argv.insert(options.argv.end(), args.begin(), args.end());
    options.capture_stderr = true;
    slave.process = Child::spawn(options, error);
    if (!slave.process) return false;
    const auto line = slave.process->stdout_line(Clock::now() + std::chrono::seconds(10));
    if (!line || line->rfind("/dev/", 0) != 0) {
        slave.process->stop();
        error = "benchslave gave no pts path: " + slave.process->stderr_text();
        slave.process.reset();
        return false;
    }
    slave.pts = *line;
    return true;
}

}  // namespace benchsupport
