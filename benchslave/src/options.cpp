// SPDX-License-Identifier: MIT
#include "options.h"

#include <charconv>
#include <limits>

namespace benchslave {

namespace {

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

}  // namespace

std::string usage() {
    return "usage: benchslave [--pty | --device PATH [--baud N] [--parity N|E|O] | --tcp PORT]\n"
           "                  [--station N] [--pattern zeros|demo]\n"
           "                  [--no-reply-every N] [--bad-crc-every N]\n"
           "                  [--exception CODE] [--exception-every N]\n"
           "                  [--delay-ms MS] [--delay-every N] [--late-ms MS]\n"
           "                  [--wrong-unit-every N] [--wrong-protocol-every N]\n"
           "                  [--wrong-echo-every N]\n"
           "                  [--counters-file PATH] [--verbose]\n"
           "\n"
           "A Modbus slave with 65536 holding registers (functions 03, 06, 16).\n"
           "The first line on stdout is what a master opens: a pts path, the device,\n"
           "or tcp:127.0.0.1:PORT. SIGINT/SIGTERM end it; it then prints its counters\n"
           "as key=value lines.\n"
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

    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) return false;
            out = args[++i];
            return true;
        };
        std::string v;
        long n = 0;
        if (arg == "--help" || arg == "-h") {
            result.help = true;
            result.message = usage();
            return result;
        } else if (arg == "--pty") {
            o.mode = LineMode::Pty;
        } else if (arg == "--device") {
            if (!value(v) || v.empty()) return fail("--device needs a path");
            o.mode = LineMode::Device;
            o.device = v;
        } else if (arg == "--baud") {
            if (!value(v) || !parse_int(v, 1, 4000000, n)) return fail("bad --baud");
            o.baud = static_cast<int>(n);
        } else if (arg == "--parity") {
            if (!value(v) || (v != "N" && v != "E" && v != "O"))
                return fail("--parity is N, E or O");
            o.parity = v[0];
        } else if (arg == "--tcp") {
            if (!value(v) || !parse_int(v, 0, 65535, n)) return fail("bad --tcp port");
            o.mode = LineMode::Tcp;
            o.tcp_port = static_cast<int>(n);
        } else if (arg == "--station") {
            if (!value(v) || !parse_int(v, 1, 247, n)) return fail("--station is 1..247");
            o.station = static_cast<int>(n);
        } else if (arg == "--pattern") {
            if (!value(v)) return fail("--pattern needs zeros or demo");
            if (v == "zeros") {
                o.pattern = Pattern::Zeros;
            } else if (v == "demo") {
                o.pattern = Pattern::Demo;
            } else {
                return fail("--pattern is zeros or demo");
            }
        } else if (arg == "--no-reply-every" || arg == "--bad-crc-every" ||
                   arg == "--exception-every" || arg == "--delay-every" ||
                   arg == "--wrong-unit-every" || arg == "--wrong-protocol-every" ||
                   arg == "--wrong-echo-every") {
            if (!value(v) || !parse_int(v, 1, std::numeric_limits<int>::max(), n)) {
                return fail(arg + " needs a count >= 1");
            }
            Every every{static_cast<unsigned>(n)};
            if (arg == "--no-reply-every") o.no_reply = every;
            if (arg == "--bad-crc-every") o.bad_crc = every;
            if (arg == "--exception-every") o.exception = every;
            if (arg == "--delay-every") o.delay = every;
            if (arg == "--wrong-unit-every") o.wrong_unit = every;
            if (arg == "--wrong-protocol-every") o.wrong_protocol = every;
            if (arg == "--wrong-echo-every") o.wrong_echo = every;
        } else if (arg == "--exception") {
            // libmodbus builds exception replies for the standard codes only.
            if (!value(v) || !parse_int(v, 1, 11, n)) return fail("--exception is 1..11");
            o.exception_code = static_cast<int>(n);
        } else if (arg == "--delay-ms") {
            if (!value(v) || !parse_int(v, 0, 60000, n)) return fail("--delay-ms is 0..60000");
            o.delay_ms = static_cast<int>(n);
        } else if (arg == "--late-ms") {
            if (!value(v) || !parse_int(v, 0, 60000, n)) return fail("--late-ms is 0..60000");
            o.late_ms = static_cast<int>(n);
        } else if (arg == "--counters-file") {
            if (!value(v) || v.empty()) return fail("--counters-file needs a path");
            o.counters_file = v;
        } else if (arg == "--verbose") {
            o.verbose = true;
        } else {
            return fail("unknown option " + arg);
        }
    }
    result.options = o;
    return result;
}

}  // namespace benchslave
