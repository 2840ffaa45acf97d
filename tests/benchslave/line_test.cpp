// SPDX-License-Identifier: MIT
// The simulator as a master meets it on the line: raw request bytes (checked with
// the tests' own CRC), what comes back, and the counters it keeps.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "../reliability/modbus_crc.h"
#include "slave_process.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using std::chrono::milliseconds;
using support::SlaveProcess;

Bytes rtu(Bytes frame) {
    reliability::append_crc(frame);
    return frame;
}

Bytes mbap(std::uint16_t transaction, const Bytes& unit_and_pdu) {
    const auto length = static_cast<std::uint16_t>(unit_and_pdu.size());
    Bytes frame{static_cast<std::uint8_t>(transaction >> 8),
                static_cast<std::uint8_t>(transaction & 0xFF),
                0,
                0,
                static_cast<std::uint8_t>(length >> 8),
                static_cast<std::uint8_t>(length & 0xFF)};
    frame.insert(frame.end(), unit_and_pdu.begin(), unit_and_pdu.end());
    return frame;
}

Bytes read_request(int start, int count) {
    return rtu({1, 3, static_cast<std::uint8_t>(start >> 8), static_cast<std::uint8_t>(start), 0,
                static_cast<std::uint8_t>(count)});
}

Bytes read_reply(const std::vector<std::uint16_t>& values) {
    Bytes frame{1, 3, static_cast<std::uint8_t>(2 * values.size())};
    for (std::uint16_t v : values) {
        frame.push_back(static_cast<std::uint8_t>(v >> 8));
        frame.push_back(static_cast<std::uint8_t>(v & 0xFF));
    }
    return rtu(frame);
}

Bytes times(int n, const Bytes& frame) {
    Bytes all;
    for (int i = 0; i < n; ++i) all.insert(all.end(), frame.begin(), frame.end());
    return all;
}

// A descriptor the test writes requests to and reads replies from.
class RawLine {
  public:
    explicit RawLine(int fd) : fd_(fd) {}
    ~RawLine() {
        if (fd_ >= 0) ::close(fd_);
    }
    RawLine(const RawLine&) = delete;
    RawLine& operator=(const RawLine&) = delete;
    bool ok() const { return fd_ >= 0; }
    int fd() const { return fd_; }

    bool send(const Bytes& bytes) const {
        return ::write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }
    // What arrives until `n` bytes are there, the other end closes, or `wait` passes.
    Bytes receive(std::size_t n, milliseconds wait) const {
        Bytes got;
        const auto end = std::chrono::steady_clock::now() + wait;
        while (got.size() < n) {
            const auto left =
                std::chrono::duration_cast<milliseconds>(end - std::chrono::steady_clock::now());
            pollfd p{fd_, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
            std::uint8_t chunk[512];
            const ssize_t r = ::read(fd_, chunk, sizeof chunk);
            if (r <= 0) break;
            got.insert(got.end(), chunk, chunk + r);
        }
        return got;
    }

  private:
    int fd_;
};

// The pts a master opens, raw, at `speed`.
int open_pts(const std::string& path, speed_t speed = B19200) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios t{};
    if (fd < 0 || ::tcgetattr(fd, &t) != 0) return fd;
    ::cfmakeraw(&t);
    ::cfsetspeed(&t, speed);
    ::tcsetattr(fd, TCSANOW, &t);
    return fd;
}

int connect_tcp(const std::string& address) {
    const int port = std::stoi(address.substr(address.rfind(':') + 1));
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Functions the simulator does not offer, with the data a master sends with them.
const std::vector<Bytes> kUnsupported = {
    {0x01, 0, 0, 0, 8},                       // read coils
    {0x02, 0, 0, 0, 8},                       // read discrete inputs
    {0x04, 0, 0, 0, 1},                       // read input registers
    {0x05, 0, 0, 0xFF, 0},                    // write single coil
    {0x07},                                   // read exception status
    {0x08, 0, 0, 0x12, 0x34},                 // diagnostics, echo
    {0x0F, 0, 0, 0, 8, 1, 0xFF},              // write multiple coils
    {0x11},                                   // report server id
    {0x16, 0, 0, 0xFF, 0xFF, 0, 5},           // mask write register 0
    {0x17, 0, 0, 0, 1, 0, 0, 0, 1, 2, 0, 5},  // read and write register 0
    {0x18, 0, 0},                             // read FIFO queue
    {0x2B, 0x0E, 1, 0},                       // read device identification
    {0x41, 1, 2, 3},                          // user defined
};

TEST(BenchslaveLine, FunctionsNotOfferedGetIllegalFunction) {
    for (bool tcp : {false, true}) {
        SlaveProcess slave(tcp ? std::vector<std::string>{"--tcp", "0"}
                               : std::vector<std::string>{});
        ASSERT_TRUE(slave.started()) << slave.error();
        RawLine line(tcp ? connect_tcp(slave.address()) : open_pts(slave.address()));
        ASSERT_TRUE(line.ok());
        std::uint16_t transaction = 1;
        auto ask = [&](const Bytes& pdu) {
            Bytes request{1};
            request.insert(request.end(), pdu.begin(), pdu.end());
            EXPECT_TRUE(line.send(tcp ? mbap(transaction, request) : rtu(request)));
        };
        for (const Bytes& pdu : kUnsupported) {
            ask(pdu);
            const Bytes exception{1, static_cast<std::uint8_t>(pdu[0] | 0x80), 0x01};
            const Bytes expected = tcp ? mbap(transaction++, exception) : rtu(exception);
            EXPECT_EQ(line.receive(expected.size(), milliseconds(3000)), expected)
                << "function " << int(pdu[0]) << (tcp ? " over TCP" : " on a pty");
        }
        // Nothing was carried out: registers 0 and 1 still hold 0.
        ask({3, 0, 0, 0, 2});
        const Bytes zeros{1, 3, 4, 0, 0, 0, 0};
        const Bytes expected = tcp ? mbap(transaction, zeros) : rtu(zeros);
        EXPECT_EQ(line.receive(expected.size(), milliseconds(3000)), expected);
        EXPECT_EQ(slave.counter("fc_other"), static_cast<long>(kUnsupported.size()));
    }
}

TEST(BenchslaveLine, AnIndependentMasterGetsIllegalFunction) {
    if (!support::on_path("mbpoll")) GTEST_SKIP() << "mbpoll is not on PATH";
    SlaveProcess slave;
    ASSERT_TRUE(slave.started()) << slave.error();
    // mbpoll's data types 0 and 3: functions 01 (coils) and 04 (input registers).
    for (const char* type : {"0", "3"}) {
        const auto r =
            support::run_program({"mbpoll", "-m", "rtu", "-b", "19200", "-P", "none", "-a", "1",
                                  "-0", "-1", "-t", type, "-r", "0", slave.address()},
                                 std::chrono::seconds(20));
        ASSERT_TRUE(r.finished) << r.out;
        EXPECT_NE(r.exit_code, 0) << r.out;
        EXPECT_NE(r.out.find("Illegal function"), std::string::npos) << r.out;
    }
}

TEST(BenchslaveLine, ASerialLineThatHangsUpEndsIt) {
    if (!support::on_path("socat")) GTEST_SKIP() << "socat is not on PATH";
    char templ[] = "/tmp/benchslave-hangup-XXXXXX";
    ASSERT_NE(::mkdtemp(templ), nullptr);
    const std::string dir = templ;
    const std::string a = dir + "/a";
    const std::string b = dir + "/b";
    std::string error;
    support::SpawnOptions pair;
    pair.argv = {"socat", "pty,raw,echo=0,link=" + a, "pty,raw,echo=0,link=" + b};
    auto socat = support::Child::spawn(pair, error);
    ASSERT_TRUE(socat) << error;
    struct stat st = {};
    ASSERT_TRUE(
        support::eventually([&] { return ::stat(b.c_str(), &st) == 0; }, std::chrono::seconds(10)));

    support::SpawnOptions spawn;
    spawn.argv = {SlaveProcess::binary_path(), "--device", a};
    spawn.capture_stderr = true;
    auto slave = support::Child::spawn(spawn, error);
    ASSERT_TRUE(slave) << error;
    ASSERT_TRUE(slave->stdout_line(support::Clock::now() + std::chrono::seconds(10)));
    socat->stop();

    // It ends by itself, long before this bound, instead of spinning.
    ASSERT_TRUE(slave->wait_until(support::Clock::now() + std::chrono::seconds(10)));
    ASSERT_TRUE(WIFEXITED(slave->status()));
    EXPECT_NE(WEXITSTATUS(slave->status()), 0);
    slave->read_to_end(support::Clock::now() + std::chrono::seconds(2));
    EXPECT_NE(slave->stderr_text().find("hung up"), std::string::npos) << slave->stderr_text();
    ::unlink(a.c_str());
    ::unlink(b.c_str());
    ::rmdir(dir.c_str());
}

TEST(BenchslaveLine, OneSlowTcpClientHoldsUpNoOther) {
    SlaveProcess slave({"--tcp", "0"});
    ASSERT_TRUE(slave.started()) << slave.error();
    const Bytes request = mbap(7, {1, 3, 0, 0, 0, 1});
    RawLine slow(connect_tcp(slave.address()));
    ASSERT_TRUE(slow.ok());
    ASSERT_TRUE(slow.send(Bytes(request.begin(), request.begin() + 3)));

    // Another client is served while the first one's request is half there.
    RawLine other(connect_tcp(slave.address()));
    ASSERT_TRUE(other.ok());
    ASSERT_TRUE(other.send(mbap(9, {1, 3, 0, 0, 0, 1})));
    EXPECT_EQ(other.receive(11, milliseconds(5000)), mbap(9, {1, 3, 2, 0, 0}));

    ASSERT_TRUE(slow.send(Bytes(request.begin() + 3, request.end())));
    EXPECT_EQ(slow.receive(11, milliseconds(5000)), mbap(7, {1, 3, 2, 0, 0}));

    // Past 16 clients, a new connection is closed at once; the others stay served.
    std::vector<std::unique_ptr<RawLine>> more;
    for (int i = 0; i < 14; ++i)
        more.push_back(std::make_unique<RawLine>(connect_tcp(slave.address())));
    RawLine refused(connect_tcp(slave.address()));
    ASSERT_TRUE(refused.ok());
    EXPECT_TRUE(refused.receive(1, milliseconds(5000)).empty());
    EXPECT_TRUE(support::eventually([&] { return slave.counter("clients_refused") == 1; },
                                    std::chrono::seconds(5)));
    ASSERT_TRUE(other.send(mbap(10, {1, 3, 0, 0, 0, 1})));
    EXPECT_EQ(other.receive(11, milliseconds(5000)), mbap(10, {1, 3, 2, 0, 0}));
}

TEST(BenchslaveLine, OutOfDescriptorsItRestsInsteadOfSpinning) {
    if (!support::on_path("prlimit")) GTEST_SKIP() << "prlimit is not on PATH";
    std::string error;
    support::SpawnOptions spawn;
    spawn.argv = {"prlimit", "--nofile=9", SlaveProcess::binary_path(), "--tcp", "0"};
    auto slave = support::Child::spawn(spawn, error);
    ASSERT_TRUE(slave) << error;
    const auto address = slave->stdout_line(support::Clock::now() + std::chrono::seconds(10));
    ASSERT_TRUE(address);
    std::vector<std::unique_ptr<RawLine>> clients;
    for (int i = 0; i < 8; ++i) clients.push_back(std::make_unique<RawLine>(connect_tcp(*address)));
    // Time for a spinning loop to fail thousands of times; a resting one a few.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    slave->signal(SIGTERM);
    slave->read_to_end(support::Clock::now() + std::chrono::seconds(5));
    ASSERT_TRUE(slave->wait_until(support::Clock::now() + std::chrono::seconds(5)));
    const auto printed = support::parse_counters(slave->stdout_text());
    ASSERT_TRUE(printed.count("accept_failures")) << slave->stdout_text();
    EXPECT_GE(printed.at("accept_failures"), 1);
    EXPECT_LE(printed.at("accept_failures"), 50);
}

// Each slave model: the requests a master sends at once on a pty, the bytes that
// come back in order, and what the counters say it did.
TEST(BenchslaveLine, SlaveModelsOnThePty) {
    const Bytes read7 = read_request(7, 1);
    const Bytes zero = read_reply({0});
    struct Case {
        const char* name;
        std::vector<std::string> args;
        Bytes sent;
        speed_t speed;
        Bytes expected;
        std::map<std::string, long> counters;
    } cases[] = {
        {"address pattern",
         {"--pattern", "address"},
         read_request(1000, 3),
         B19200,
         read_reply({1000, 1001, 1002}),
         {{"replies", 1}}},
        {"one at a time, queueing",
         {"--one-at-a-time", "queue", "--late-ms", "30"},
         times(3, read7),
         B19200,
         times(3, zero),
         {{"queued", 2}, {"replies", 3}}},
        {"one at a time, dropping",
         {"--one-at-a-time", "drop", "--late-ms", "400"},
         times(3, read7),
         B19200,
         zero,
         {{"dropped_busy", 2}, {"replies", 1}}},
        {"random delays",
         {"--delay-range", "20:50", "--seed", "7"},
         times(2, read7),
         B19200,
         times(2, zero),
         {{"random_delays", 2}, {"replies", 2}}},
        {"each reply twice",
         {"--duplicate-ms", "20"},
         read7,
         B19200,
         times(2, zero),
         {{"duplicates", 1}, {"replies", 1}}},
        {"an echoing line",
         {"--echo"},
         read7,
         B19200,
         [&] {
             Bytes both = read7;
             both.insert(both.end(), zero.begin(), zero.end());
             return both;
         }(),
         {{"echoed_bytes", 8}, {"replies", 1}}},
        {"dropping at random",
         {"--drop-chance", "1"},
         times(2, read7),
         B19200,
         {},
         {{"dropped_random", 2}, {"replies", 0}}},
        {"another speed",
         {"--baud", "9600"},
         read7,
         B19200,
         {},
         {{"wrong_speed", 1}, {"replies", 0}}},
        {"its speed", {"--baud", "9600"}, read7, B9600, zero, {{"wrong_speed", 0}, {"replies", 1}}},
    };
    for (const Case& c : cases) {
        SlaveProcess slave(c.args);
        ASSERT_TRUE(slave.started()) << slave.error();
        RawLine line(open_pts(slave.address(), c.speed));
        ASSERT_TRUE(line.ok());
        ASSERT_TRUE(line.send(c.sent));
        EXPECT_EQ(line.receive(c.expected.size(), milliseconds(5000)), c.expected) << c.name;
        EXPECT_TRUE(line.receive(1, milliseconds(300)).empty()) << c.name << ": more came";
        for (const auto& [key, value] : c.counters) {
            EXPECT_TRUE(support::eventually([&] { return slave.counter(key) == value; },
                                            std::chrono::seconds(5)))
                << c.name << ": " << key << " is " << slave.counter(key) << ", not " << value;
        }
    }
}

}  // namespace
