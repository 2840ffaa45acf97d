// SPDX-License-Identifier: MIT
// The regwire tool as a user runs it: mapping a port in the user's map file and
// probing a simulator through it on a pty and over TCP; usage errors; ports;
// the map file under concurrent edits and in odd shapes; what probe says when it
// fails; scan finding a simulator.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "open_slave.h"
#include "process.h"
#include "regwire.h"
#include "slave_process.h"

namespace {

using support::Child;
using support::Clock;
using support::RunResult;
using support::SlaveProcess;

// Each test gets a fresh XDG_CONFIG_HOME and no REGWIRE_PORT<k> of its own.
class RegwireTool : public testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/regwire_tool_XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        config_ = pattern;
        if (const char* old = ::getenv("XDG_CONFIG_HOME")) saved_ = old;
        ::setenv("XDG_CONFIG_HOME", config_.c_str(), 1);
        for (int k = 1; k <= 19; ++k) ::unsetenv(("REGWIRE_PORT" + std::to_string(k)).c_str());
    }
    void TearDown() override {
        if (saved_.empty()) {
            ::unsetenv("XDG_CONFIG_HOME");
        } else {
            ::setenv("XDG_CONFIG_HOME", saved_.c_str(), 1);
        }
        std::filesystem::remove_all(config_);
    }

    static RunResult run(std::vector<std::string> args) {
        args.insert(args.begin(), REGWIRE_TOOL_PATH);
        return support::run_program(args, std::chrono::seconds(20));
    }
    std::string map_path() const { return config_ + "/regwire/ports.conf"; }
    std::string map_text() const {
        std::ifstream in(map_path());
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    std::string config_;
    std::string saved_;
};

TEST_F(RegwireTool, MapThenProbeReadsTheSimulator) {
    struct Row {
        const char* line;
        std::vector<std::string> slave_args;
        std::string port;
    } rows[] = {
        {"pty", {"--pty", "--pattern", "demo"}, "6"},
        {"tcp", {"--tcp", "0", "--pattern", "demo"}, "7"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.line);
        SlaveProcess slave(r.slave_args);
        ASSERT_TRUE(slave.started()) << slave.error();
        const RunResult mapped = run({"map", r.port, slave.address()});
        ASSERT_EQ(mapped.exit_code, 0) << mapped.out;
        EXPECT_NE(map_text().find(r.port + " = " + slave.address() + "\n"), std::string::npos);

        const RunResult probe =
            run({"probe", r.port, "--parity", "none", "--address", "100", "--count", "8"});
        ASSERT_EQ(probe.exit_code, 0) << probe.out;
        EXPECT_NE(probe.out.find("user file " + config_ + "/regwire/ports.conf"), std::string::npos)
            << probe.out;
        // The demo pattern's fixed words at 100..107.
        for (const char* want : {"  100:      0  0x0000", "  104:     -1  0xffff",
                                 "  106:   1234  0x04d2", "  107:  -1234  0xfb2e"}) {
            EXPECT_NE(probe.out.find(want), std::string::npos) << want << "\n" << probe.out;
        }
        EXPECT_EQ(slave.counter("fc03"), 1);
    }
    // Both entries are in the file; unmapping one keeps the other.
    ASSERT_EQ(run({"unmap", "6"}).exit_code, 0);
    EXPECT_EQ(map_text().find("6 = "), std::string::npos);
    EXPECT_NE(map_text().find("7 = tcp:127.0.0.1:"), std::string::npos);
}

TEST_F(RegwireTool, MapKeepsTheRestOfTheFile) {
    std::filesystem::create_directories(config_ + "/regwire");
    std::ofstream(config_ + "/regwire/ports.conf") << "# bench 4\n3 = /dev/ttyUSB3  # left\n";
    ASSERT_EQ(run({"map", "3", "/dev/ttyUSB9"}).exit_code, 0);
    ASSERT_EQ(run({"map", "4", "tcp:[::1]:1502"}).exit_code, 0);
    EXPECT_EQ(map_text(), "# bench 4\n3 = /dev/ttyUSB9\n4 = tcp:[::1]:1502\n");
    // No temporary file is left beside it, only the lock.
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(config_ + "/regwire")) {
        names.insert(e.path().filename().string());
    }
    EXPECT_EQ(names, (std::set<std::string>{"ports.conf", "ports.conf.lock"}));
}

TEST_F(RegwireTool, FailuresAndUsageErrorsHaveTheirExitStatus) {
    struct Row {
        std::vector<std::string> args;
        int status;
        std::string says;
    } rows[] = {
        {{}, 2, "no command"},
        {{"frobnicate"}, 2, "unknown command frobnicate"},
        {{"probe"}, 2, "probe takes a port number"},
        {{"probe", "0"}, 2, "no port number: 0"},
        {{"probe", "6", "--count", "126"}, 2, "bad value for --count: 126"},
        {{"probe", "6", "--speed", "12345"}, 2, "bad value for --speed"},
        {{"probe", "6", "--address", "65535", "--count", "2"}, 2, "pass address 65535"},
        {{"map", "6", "ttyUSB0"}, 2, "neither an absolute path"},
        {{"map", "6"}, 2, "map takes a port number and a device"},
        {{"map", "6", "tcp:"}, 2, "is not tcp:HOST:PORT with a host and a port"},
        {{"map", "6", "tcp:host"}, 2, "is not tcp:HOST:PORT"},
        {{"map", "6", "tcp::502"}, 2, "is not tcp:HOST:PORT"},
        {{"map", "6", "tcp:host:"}, 2, "is not tcp:HOST:PORT"},
        {{"map", "6", "tcp:host:0"}, 2, "is not tcp:HOST:PORT"},
        {{"map", "6", "tcp:host:65536"}, 2, "is not tcp:HOST:PORT"},
        {{"map", "6", "tcp:host:50x"}, 2, "is not tcp:HOST:PORT"},
        {{"map", "6", "tcp:[::1]:99999"}, 2, "is not tcp:HOST:PORT"},
        {{"map", "6", "tcp:[::1]"}, 2, "is not tcp:HOST:PORT"},
        {{"map", "6", "tcp:[]:502"}, 2, "is not tcp:HOST:PORT"},
        {{"map", "6", "tcp:[::1]:65535"}, 0, "port 6 = tcp:[::1]:65535"},
        {{"scan", "6", "--station", "0-3"}, 2, "bad value for --station: 0-3"},
        {{"scan", "6", "--station", "9-3"}, 2, "bad value for --station: 9-3"},
        {{"scan", "6", "--speed", "9600,12345"}, 2, "bad value for --speed: 9600,12345"},
        {{"scan", "6", "--parity", "even,mark"}, 2, "bad value for --parity"},
        {{"unmap", "x"}, 2, "no port number: x"},
        // A port mapped to a missing device: mapped with a note, then fails to open.
        {{"map", "5", "/nonexistent/ttyUSB7"}, 0, "does not exist now"},
        {{"probe", "5", "--count", "1"}, 1, "port 5 (/nonexistent/ttyUSB7): open: No such file"},
        {{"--help"}, 0, "probe K [OPTIONS]"},
        {{"--version"}, 0, std::string("regwire ") + Regwire_version() + "\n"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::PrintToString(r.args));
        const RunResult got = run(r.args);
        EXPECT_EQ(got.exit_code, r.status) << got.out;
        EXPECT_NE(got.out.find(r.says), std::string::npos) << got.out;
    }
}

TEST_F(RegwireTool, PortsShowsWhereEachMappingComesFrom) {
    ASSERT_EQ(run({"map", "6", "/dev/null"}).exit_code, 0);
    ::setenv("REGWIRE_PORT2", "tcp:127.0.0.1:1502", 1);
    const RunResult got = run({"ports"});
    ::unsetenv("REGWIRE_PORT2");
    ASSERT_EQ(got.exit_code, 0) << got.out;
    for (const char* want :
         {"Serial devices:", "   1  /dev/ttyS0 ",
          "   2  tcp:127.0.0.1:1502           environment  ok (TCP)",
          "   6  /dev/null                    user file    ok", "  19  /dev/ttyS18 "}) {
        EXPECT_NE(got.out.find(want), std::string::npos) << want << "\n" << got.out;
    }
}

// Concurrent maps of different ports all land: each edit is made under a lock.
TEST_F(RegwireTool, ConcurrentMapsKeepEveryEntry) {
    constexpr int kProcesses = 50;
    std::vector<std::unique_ptr<Child>> children;
    for (int k = 1; k <= kProcesses; ++k) {
        support::SpawnOptions o;
        o.argv = {REGWIRE_TOOL_PATH, "map", std::to_string(k), "/dev/ttyUSB" + std::to_string(k)};
        o.capture_stdout = false;
        std::string error;
        children.push_back(Child::spawn(o, error));
        ASSERT_TRUE(children.back()) << error;
    }
    for (auto& c : children) {
        ASSERT_TRUE(c->wait_until(Clock::now() + std::chrono::seconds(60)));
        EXPECT_TRUE(WIFEXITED(c->status()) && WEXITSTATUS(c->status()) == 0);
    }
    const std::string text = map_text();
    for (int k = 1; k <= kProcesses; ++k) {
        const std::string entry = std::to_string(k) + " = /dev/ttyUSB" + std::to_string(k) + "\n";
        EXPECT_NE(text.find(entry), std::string::npos) << entry;
    }
}

// A map file that is, or links to, anything but a regular file is left alone,
// at once: opening a FIFO would wait for a writer for ever.
TEST_F(RegwireTool, MapRefusesAMapFileThatIsNoRegularFile) {
    namespace fs = std::filesystem;
    const std::string dir = config_ + "/regwire";
    const std::string fifo = config_ + "/fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    struct Row {
        const char* what;
        std::function<void(const std::string&)> make;
    } rows[] = {
        {"a FIFO", [](const std::string& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); }},
        {"a link to a FIFO", [&](const std::string& p) { fs::create_symlink(fifo, p); }},
        {"a directory", [](const std::string& p) { fs::create_directory(p); }},
        {"a link to a terminal", [](const std::string& p) { fs::create_symlink("/dev/tty", p); }},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        fs::remove_all(dir);
        fs::create_directories(dir);
        r.make(map_path());
        const RunResult got = run({"map", "3", "/dev/ttyUSB3"});
        ASSERT_TRUE(got.finished) << "map hung";
        EXPECT_EQ(got.exit_code, 1) << got.out;
        EXPECT_NE(got.out.find("is not a regular file; left as it is"), std::string::npos)
            << got.out;
    }
    // A link to a regular file is followed: the link stays, its target changes.
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::ofstream(config_ + "/real.conf") << "# mine\n";
    fs::create_symlink(config_ + "/real.conf", map_path());
    ASSERT_EQ(run({"map", "3", "/dev/ttyUSB3"}).exit_code, 0);
    EXPECT_TRUE(fs::is_symlink(map_path()));
    EXPECT_EQ(map_text(), "# mine\n3 = /dev/ttyUSB3\n");
}

// A new map file is created as the umask says; an existing one keeps its mode.
TEST_F(RegwireTool, MapFileModeFollowsTheUmask) {
    struct Row {
        mode_t umask;
        mode_t existing;  // 0: no file yet
        mode_t want;
    } rows[] = {{022, 0, 0644}, {077, 0, 0600}, {027, 0, 0640}, {022, 0600, 0600}};
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message()
                     << std::oct << "umask " << r.umask << " existing " << r.existing);
        std::filesystem::remove_all(config_ + "/regwire");
        if (r.existing != 0) {
            std::filesystem::create_directories(config_ + "/regwire");
            std::ofstream(map_path()) << "";
            ASSERT_EQ(::chmod(map_path().c_str(), r.existing), 0);
        }
        const mode_t old = ::umask(r.umask);
        const RunResult got = run({"map", "3", "/dev/ttyUSB3"});
        ::umask(old);
        ASSERT_EQ(got.exit_code, 0) << got.out;
        struct stat st = {};
        ASSERT_EQ(::stat(map_path().c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, r.want) << std::oct << (st.st_mode & 0777);
    }
}

// What comes from a map file reaches the terminal with its control characters
// escaped; a byte-order mark does not spoil the first line.
TEST_F(RegwireTool, PortsEscapesControlCharactersFromTheMap) {
    std::filesystem::create_directories(config_ + "/regwire");
    std::ofstream(map_path()) << "\xEF\xBB\xBF"
                                 "2 = /dev/ttyUSB2\n"
                                 "\x1b]0;title\x07 = /dev/x\n"
                                 "4 = /dev/tty\x1b[2JUSB\n";
    const RunResult got = run({"ports"});
    ASSERT_EQ(got.exit_code, 0) << got.out;
    EXPECT_EQ(got.out.find('\x1b'), std::string::npos) << got.out;
    EXPECT_EQ(got.out.find('\x07'), std::string::npos) << got.out;
    for (const char* want : {"port \"\\x1b]0;title\\x07\" is not a number",
                             "\"/dev/tty\\x1b[2JUSB\" contains", "   2  /dev/ttyUSB2 "}) {
        EXPECT_NE(got.out.find(want), std::string::npos) << want << "\n" << got.out;
    }
}

// A TCP listener that accepts nothing, with its backlog filled by connections
// that are never accepted: a further connect is left waiting.
class ListenerWithFullBacklog {
  public:
    ListenerWithFullBacklog() {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&a), len) != 0 ||
            ::listen(listener_, 0) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
            return;
        }
        for (int i = 0; i < 3; ++i) {
            const int c = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
            ::connect(c, reinterpret_cast<sockaddr*>(&a), len);
            fillers_.push_back(c);
        }
        device_ = "tcp:127.0.0.1:" + std::to_string(ntohs(a.sin_port));
    }
    ~ListenerWithFullBacklog() {
        for (int c : fillers_) ::close(c);
        ::close(listener_);
    }
    bool ok() const { return !device_.empty(); }
    const std::string& device() const { return device_; }

  private:
    int listener_ = -1;
    std::vector<int> fillers_;
    std::string device_;
};

// A failed probe gives the library's account and what to look at next.
TEST_F(RegwireTool, ProbeSaysWhyItFailedAndWhatToCheck) {
    SlaveProcess slave({"--pty", "--station", "5"}, 6);
    ASSERT_TRUE(slave.started()) << slave.error();
    // The last row finds the pty busy: this process holds it as port 7.
    support::ScopedEnv port7("REGWIRE_PORT7", slave.address().c_str());
    // Port 8 is a listener whose backlog is full: a connect to it is never accepted.
    const ListenerWithFullBacklog full;
    ASSERT_TRUE(full.ok());
    support::ScopedEnv port8("REGWIRE_PORT8", full.device().c_str());
    const std::string me = "Held by pid " + std::to_string(::getpid()) + " (";
    struct Row {
        std::vector<std::string> args;
        std::vector<std::string> says;
    } rows[] = {
        {{"probe", "6", "--station", "9", "--speed", "19200"},
         {"port 6 (" + slave.address() + "), station 9, reading registers 0..9: no reply",
          "the station: the slave may not be station 9 (regwire scan 6",
          "the speed or parity: the slave's may differ from 19200 bit/s, parity even", "the wiring",
          "A and B swapped"}},
        {{"probe", "200"},
         {"port 200 (/dev/ttyS199): open:", "device from default", "Port 200 is not mapped",
          "  regwire map 200 DEVICE"}},
        {{"probe", "8"}, {"port 8 (" + full.device() + "): open: timed out connecting"}},
        {{"probe", "6"}, {"in use by another Regwire user", me}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::PrintToString(r.args));
        if (&r == &rows[3]) {
            ASSERT_EQ(OpenPort_Modbus(7, 2, 0), REGWIRE_OK);
        }
        const RunResult got = run(r.args);
        EXPECT_EQ(got.exit_code, 1) << got.out;
        for (const std::string& want : r.says) {
            EXPECT_NE(got.out.find(want), std::string::npos) << want << "\n" << got.out;
        }
    }
    ClosePort_Modbus(7);
}

// scan finds a slave of unknown station at the one speed it answers at, and ends
// within the bound it printed first. benchslave --baud on a pty ignores requests
// sent at another speed; a benchslave that answers at any speed is found at each.
TEST_F(RegwireTool, ScanFindsTheStationAndSpeed) {
    SlaveProcess slave({"--pty", "--station", "17", "--baud", "19200"}, 6);
    ASSERT_TRUE(slave.started()) << slave.error();
    const bool any_speed =
        run({"probe", "6", "--station", "17", "--speed", "9600", "--count", "1"}).exit_code == 0;

    const RunResult got =
        run({"scan", "6", "--station", "15-18", "--speed", "9600,19200", "--parity", "none"});
    ASSERT_TRUE(got.finished);
    EXPECT_EQ(got.exit_code, 0) << got.out;
    std::smatch bound;
    ASSERT_TRUE(std::regex_search(got.out, bound, std::regex(R"(ends within (\d+)\.(\d) s)")))
        << got.out;
    EXPECT_LE(got.seconds, std::stod(bound[1].str() + "." + bound[2].str())) << got.out;
    EXPECT_LT(got.out.find("ends within"), got.out.find("found:")) << got.out;

    std::vector<std::string> found;
    const std::regex hit(
        R"(found: speed index (\d) \(\d+ bit/s\), parity index 0 \(none\), station (\d+))");
    for (auto it = std::sregex_iterator(got.out.begin(), got.out.end(), hit);
         it != std::sregex_iterator(); ++it) {
        found.push_back((*it)[1].str() + "/" + (*it)[2].str());
    }
    const std::vector<std::string> want =
        any_speed ? std::vector<std::string>{"1/17", "2/17"} : std::vector<std::string>{"2/17"};
    EXPECT_EQ(found, want) << got.out;
    EXPECT_NE(got.out.find("  regwire probe 6 --speed 19200 --parity none --station 17\n"),
              std::string::npos)
        << got.out;
}

}  // namespace
