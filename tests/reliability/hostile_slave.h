// SPDX-License-Identifier: MIT
// A Modbus RTU slave on a pseudo-terminal, run on a thread of the test, that
// answers each request in one of many wrong (or right) ways. A seeded generator
// or a script picks the way. It logs what it did with every request, so a test
// can tell whether what the master reported is what was on the line.
//
// Its registers change with every read, so a stale or misdirected reply would
// carry other values than the answer to the current request.
//
// One rule keeps the test decidable: a reply of the right shape (for a read the
// same byte count, for a write the same address and quantity) that is not the
// answer is sent only when the master has just seen a failed exchange, and is
// then followed at once by bytes for the current request. A lone reply of the
// right shape cannot be told from the answer by any master, as a function 03
// reply carries no address.
#pragma once

#include <modbus.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace reliability {

enum class Answer {
    Correct,         // the reply, at once
    Exception,       // an exception reply (code 1..11, now and then an invalid one)
    Silent,          // nothing
    RandomBytes,     // 1..300 random bytes
    Truncated,       // the reply cut short
    TrailingJunk,    // the reply with random bytes after it
    Oversized,       // a frame longer than any reply to the request may be
    WrongStation,    // the reply from another station (valid CRC)
    WrongFunction,   // the reply under another function code (valid CRC)
    WrongCount,      // a byte count or echoed quantity that does not fit (valid CRC)
    BadCrc,          // the reply with a corrupted CRC
    DelayedInTime,   // the reply, late but within the master's timeout
    HeldToNext,      // the reply, held until the next request, then sent ahead of its answer
    LateBeforeNext,  // the reply after the master's timeout, before its next request
    Replay,          // an earlier reply (or a reply to another address) instead of the answer
};
inline constexpr int kAnswerKinds = 15;
const char* answer_name(Answer a);

// One step of a script: how to answer the next request. code: the exception code
// for Answer::Exception; 0 lets the generator choose.
struct Step {
    Answer answer;
    int code = 0;
};

// What the slave did with one request.
struct Served {
    int function = 0;
    int start = 0;
    int count = 0;
    Answer answer = Answer::Correct;
    bool stale_first = false;           // an earlier reply went out ahead of the answer
    Answer follower = Answer::Correct;  // with stale_first: how the request itself was answered
    bool genuine = false;  // the reply to this request was sent whole (after any stale one)
    std::vector<std::uint16_t> values;  // reads: the registers the reply carried
    bool applied = false;               // writes: the values went into the table
};

class HostileSlave {
  public:
    // turnaround_ms: the master's REGWIRE_TURNAROUND_MS, at 921600 bit/s.
    HostileSlave(std::uint64_t seed, int station, int turnaround_ms);
    ~HostileSlave();
    HostileSlave(const HostileSlave&) = delete;
    HostileSlave& operator=(const HostileSlave&) = delete;

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    const std::string& device() const { return device_; }  // the pts a master opens

    // The next requests are answered by these steps, then by the generator again.
    void script(std::vector<Step> steps);
    // The master opened its port afresh: an answer held back is forgotten.
    void master_reopened();
    // Waits until every request sent so far has been read and answered in full
    // (including late answers). False at the deadline.
    bool wait_idle(std::chrono::milliseconds deadline);
    // The records since the last call.
    std::vector<Served> take_log();
    std::vector<std::uint16_t> registers(int start, int count);

    long requests() const;
    std::array<long, kAnswerKinds> answers() const;
    // Frames libmodbus built whose CRC the test's own CRC routine disagreed with.
    long crc_disagreements() const;
    // Requests that could not be read as a function 03 or 16 request of our station.
    long unreadable() const;

  private:
    // A valid frame the slave sent once, kept for replays.
    struct Kept {
        std::vector<std::uint8_t> frame;
        int function = 0;  // function code of the frame (with 0x80 for an exception)
        int start = 0;
        int count = 0;
        bool answered = false;  // the master had the reply to its request whole
    };

    void run();
    void handle(const std::uint8_t* req, int length);
    Answer pick(bool prompt_only);
    std::vector<std::uint8_t> build_reply(const std::uint8_t* req, int length);
    std::vector<std::uint8_t> build_exception(const std::uint8_t* req, int code);
    std::vector<std::uint8_t> read_back(int sent);
    // Bytes of an answer that goes out at once.
    std::vector<std::uint8_t> prompt_bytes(Answer a, const std::uint8_t* req,
                                           const std::vector<std::uint8_t>& reply, int code,
                                           bool scripted, bool& master_fails);
    std::vector<std::uint8_t> other_shape_reply(const std::uint8_t* req,
                                                const std::vector<std::uint8_t>& reply);
    std::vector<std::uint8_t> random_bytes(int min, int max);
    void keep(const std::vector<std::uint8_t>& frame, int function, int start, int count,
              bool answered);
    void send(const std::vector<std::uint8_t>& bytes);
    bool pause_us(long us);  // false when stopping
    bool input_pending() const;

    int station_;
    long turnaround_us_;
    std::mt19937_64 rng_;
    std::string error_;
    std::string device_;
    int ptmx_ = -1;
    int pts_held_ = -1;
    int pair_[2] = {-1, -1};
    int stop_[2] = {-1, -1};
    modbus_t* rx_ = nullptr;
    modbus_t* builder_ = nullptr;
    modbus_mapping_t* mapping_ = nullptr;

    // Slave thread only.
    std::vector<std::uint8_t> held_;
    bool master_failed_ = false;  // the master surely saw its last exchange fail
    std::deque<Kept> kept_;

    mutable std::mutex mu_;
    std::condition_variable idle_cv_;
    bool busy_ = false;
    bool reopened_ = false;
    std::deque<Step> script_;
    std::vector<Served> log_;
    long requests_ = 0;
    std::array<long, kAnswerKinds> answers_{};
    long crc_disagreements_ = 0;
    long unreadable_ = 0;

    std::thread thread_;
};

}  // namespace reliability
