// SPDX-License-Identifier: MIT
#include "mbpoll.h"

#include <regex>

#include "slave_process.h"

namespace bench::testing {
namespace {

std::vector<std::string> baseArgs(const std::string& device, int start, bool wide) {
    return {"mbpoll",
            "-m",
            "rtu",
            "-b",
            "38400",
            "-P",
            "even",
            "-a",
            "1",
            "-0",
            "-o",
            "1",
            "-t",
            wide ? "4:int" : "4",
            "-B",
            "-r",
            std::to_string(start),
            device};
}

MbpollResult run(const std::vector<std::string>& args) {
    const auto r = support::run_program(args, std::chrono::seconds(20));
    MbpollResult result;
    result.ok = r.finished && r.exit_code == 0;
    result.output = r.out;
    result.values = parseMbpollValues(r.out);
    return result;
}

}  // namespace

std::map<int, int64_t> parseMbpollValues(const std::string& output) {
    std::map<int, int64_t> values;
    static const std::regex line(R"(\[(\d+)\]:\s+(-?\d+)(?:\s+\((-?\d+)\))?)");
    for (auto it = std::sregex_iterator(output.begin(), output.end(), line);
         it != std::sregex_iterator(); ++it) {
        const auto& m = *it;
        values[std::stoi(m[1])] = std::stoll(m[3].matched ? m[3].str() : m[2].str());
    }
    return values;
}

MbpollResult mbpollRead(const std::string& device, int start, int count, bool wide) {
    auto args = baseArgs(device, start, wide);
    args.insert(args.end() - 1, {"-1", "-c", std::to_string(count)});
    return run(args);
}

MbpollResult mbpollWrite(const std::string& device, int start, const std::vector<int64_t>& values,
                         bool wide) {
    auto args = baseArgs(device, start, wide);
    args.push_back("--");
    for (int64_t v : values) args.push_back(std::to_string(v));
    return run(args);
}

}  // namespace bench::testing
