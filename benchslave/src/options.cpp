// SPDX-License-Identifier: MIT
#include "options.h"

#include <arpa/inet.h>

#include <charconv>
#include <functional>
#include <limits>
#include <map>

namespace benchslave {

namespace {

constexpr long kMaxInt = std::numeric_limits<int>::max();

bool parse_int(const std::string& text, long min, long max, long& out) {
    long value = 0;
    const char* first = text.data();
    const char* last = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(first, last, value);
    if (text.empty() || ec != std::errc() || ptr != last || value < min || value > max) {
        return false;
    }
    out = value;
    return true;
}

// "MIN:MAX" milliseconds, MIN <= MAX.
bool parse_range(const std::string& text, int& min, int& max) {
    const auto colon = text.find(':');
    long a = 0;
    long b = 0;
    if (colon == std::string::npos || !parse_int(text.substr(0, colon), 0, 60000, a) ||
        !parse_int(text.substr(colon + 1), a, 60000, b)) {
        return false;
    }
    min = static_cast<int>(a);
    max = static_cast<int>(b);
    return true;
}

// An option that takes a value: sets it in Options, or returns false if it is bad.
using Setter = std::function<bool(Options&, const std::string&)>;
// A field of Options, named through an alias that clang-format 14 and 19 lay out
// alike (they space `T Options::*name` differently).
template <typename T>
using Member = T Options::*;

Setter integer(long min, long max, std::function<void(Options&, long)> set) {
    return [=](Options& o, const std::string& v) {
        long n = 0;
        if (!parse_int(v, min, max, n)) return false;
        set(o, n);
        return true;
    };
}

Setter every(Member<Every> field) {
    return integer(1, kMaxInt,
                   [field](Options& o, long n) { o.*field = Every{static_cast<unsigned>(n)}; });
}

// --duplicate-ms: MS, or MIN:MAX for a random delay per copy.
bool parse_duplicate(Options& o, const std::string& text) {
    if (text.find(':') != std::string::npos) {
        return parse_range(text, o.duplicate_ms, o.duplicate_max_ms);
    }
    long ms = 0;
    if (!parse_int(text, 0, 60000, ms)) return false;
    o.duplicate_ms = o.duplicate_max_ms = static_cast<int>(ms);
    return true;
}

Setter milliseconds(Member<int> field) {
    return integer(0, 60000, [field](Options& o, long n) { o.*field = static_cast<int>(n); });
}

template <typename T>
Setter one_of(Member<T> field, std::map<std::string, T> names) {
    return [field, names](Options& o, const std::string& v) {
        auto it = names.find(v);
        if (it == names.end()) return false;
        o.*field = it->second;
        return true;
    };
}

const std::map<std::string, Setter>& valued_options() {
    static const std::map<std::string, Setter> table = {
        {"--device",
         [](Options& o, const std::string& v) {
             o.mode = LineMode::Device;
             o.device = v;
             return !v.empty();
         }},
        {"--baud", integer(1, 4000000,
                           [](Options& o, long n) {
                               o.baud = static_cast<int>(n);
                               o.baud_given = true;
                           })},
        {"--parity", one_of(&Options::parity, std::map<std::string, char>{
                                                  {"N", 'N'}, {"E", 'E'}, {"O", 'O'}})},
        {"--tcp", integer(0, 65535,
                          [](Options& o, long n) {
                              o.mode = LineMode::Tcp;
                              o.tcp_port = static_cast<int>(n);
                          })},
        {"--listen",
         [](Options& o, const std::string& v) {
             in_addr address{};
             o.listen = v;
             return ::inet_pton(AF_INET, v.c_str(), &address) == 1;
         }},
        {"--station",
         integer(1, 247, [](Options& o, long n) { o.station = static_cast<int>(n); })},
        {"--pattern", one_of(&Options::pattern, std::map<std::string, Pattern>{
                                                    {"zeros", Pattern::Zeros},
                                                    {"demo", Pattern::Demo},
                                                    {"address", Pattern::Address}})},
        {"--no-reply-every", every(&Options::no_reply)},
        {"--bad-crc-every", every(&Options::bad_crc)},
        {"--exception-every", every(&Options::exception)},
        {"--delay-every", every(&Options::delay)},
        {"--wrong-unit-every", every(&Options::wrong_unit)},
        {"--wrong-protocol-every", every(&Options::wrong_protocol)},
        {"--wrong-echo-every", every(&Options::wrong_echo)},
        // Exception replies carry the standard codes only.
        {"--exception",
         integer(1, 11, [](Options& o, long n) { o.exception_code = static_cast<int>(n); })},
        {"--delay-ms", milliseconds(&Options::delay_ms)},
        {"--late-ms", milliseconds(&Options::late_ms)},
        {"--duplicate-ms", parse_duplicate},
        {"--delay-range",
         [](Options& o, const std::string& v) {
             return parse_range(v, o.delay_min_ms, o.delay_max_ms);
         }},
        {"--seed", integer(0, std::numeric_limits<std::uint32_t>::max(),
                           [](Options& o, long n) { o.seed = static_cast<std::uint32_t>(n); })},
        {"--drop-chance", integer(1, kMaxInt,
                                  [](Options& o, long n) {
                                      o.drop_chance = static_cast<unsigned>(n);
                                  })},
        {"--one-at-a-time", one_of(&Options::busy, std::map<std::string, Busy>{
                                                        {"queue", Busy::Queue},
                                                        {"drop", Busy::Drop}})},
        {"--counters-file",
         [](Options& o, const std::string& v) {
             o.counters_file = v;
             return !v.empty();
         }},
    };
    return table;
}

}  // namespace

std::string usage() {
    return "usage: benchslave [--pty [--baud N] | --device PATH [--baud N] [--parity N|E|O]\n"
           "                  | --tcp PORT [--listen ADDRESS]]\n"
           "                  [--station N] [--pattern zeros|demo|address]\n"
           "                  [--no-reply-every N] [--bad-crc-every N]\n"
           "                  [--exception CODE] [--exception-every N]\n"
           "                  [--delay-ms MS] [--delay-every N] [--late-ms MS]\n"
           "                  [--wrong-unit-every N] [--wrong-protocol-every N]\n"
           "                  [--wrong-echo-every N]\n"
           "                  [--one-at-a-time queue|drop] [--delay-range MIN:MAX]\n"
           "                  [--seed N] [--duplicate-ms MS|MIN:MAX] [--echo] [--drop-chance N]\n"
           "                  [--counters-file PATH] [--verbose]\n"
           "\n"
           "A Modbus slave with 65536 holding registers. It offers functions 03, 06\n"
           "and 16 and answers any other with exception 01 (illegal function).\n"
           "The first line on stdout is what a master opens: a pts path, the device,\n"
           "or tcp:ADDRESS:PORT (ADDRESS 127.0.0.1 unless --listen says otherwise).\n"
           "--device defaults to 19200 bit/s, no parity. SIGINT/SIGTERM end it; it\n"
           "then prints its counters as key=value lines. A serial line that hangs up\n"
           "ends it with status 1.\n"
           "A request touching register 60001 gets no reply, 60002 a bad CRC,\n"
           "60003 exception 4, 60004 a reply delayed by --delay-ms (default 500).\n"
           "--late-ms answers every request that long after it arrived, with the right\n"
           "values, while later requests keep arriving.\n";
}

ParseResult parse_options(const std::vector<std::string>& args) {
    ParseResult result;
    Options o;
    auto fail = [&](const std::string& text) {
        result.options.reset();
        result.message = "benchslave: " + text + "\n" + usage();
        return result;
    };
    const auto& table = valued_options();
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            result.help = true;
            result.message = usage();
            return result;
        } else if (arg == "--pty") {
            o.mode = LineMode::Pty;
        } else if (arg == "--echo") {
            o.echo = true;
        } else if (arg == "--verbose") {
            o.verbose = true;
        } else if (auto it = table.find(arg); it != table.end()) {
            if (i + 1 >= args.size()) return fail(arg + " needs a value");
            if (!it->second(o, args[++i])) return fail("bad " + arg + " " + args[i]);
        } else {
            return fail("unknown option " + arg);
        }
    }
    if (o.echo && o.mode == LineMode::Tcp) return fail("--echo is for a serial line");
    result.options = o;
    return result;
}

}  // namespace benchslave
