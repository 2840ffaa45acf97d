// SPDX-License-Identifier: MIT
// The exported functions: argument checks, the table of open ports, the
// splitting of long transfers into requests a slave accepts, and the detail of
// each failure.
#include "regwire.h"

#include <array>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "failure.h"
#include "line.h"
#include "pdu.h"
#include "port.h"

namespace {

using regwire::Port;

constexpr int kMaxReadRegisters = regwire::pdu::kMaxReadCount;    // per function 03 request
constexpr int kMaxWriteRegisters = regwire::pdu::kMaxWriteCount;  // per function 16 request
constexpr int kMaxCount16 = 125;                                  // values per call, 16-bit
constexpr int kMaxCount32 = 64;                                   // values per call, 32-bit
constexpr int kMaxStation = 247;

// One slot per port number ever used. A slot's mutex serialises the requests on
// that port; the table's mutex only guards finding or adding a slot, so a slow
// port never holds up another.
struct Slot {
    std::mutex mutex;
    std::unique_ptr<Port> port;
};

std::mutex g_table_mutex;
std::map<int32_t, std::shared_ptr<Slot>>& table() {
    static std::map<int32_t, std::shared_ptr<Slot>> slots;
    return slots;
}

std::shared_ptr<Slot> slot_for(int32_t port, bool create) {
    std::lock_guard<std::mutex> lock(g_table_mutex);
    auto& slots = table();
    auto it = slots.find(port);
    if (it != slots.end()) return it->second;
    if (!create) return nullptr;
    auto slot = std::make_shared<Slot>();
    slots.emplace(port, slot);
    return slot;
}

bool registers_fit(int32_t start, int32_t registers) {
    return start >= 0 && start <= 65535 && start + registers - 1 <= 65535;
}

std::string range(int32_t low, int32_t high) {
    return std::to_string(low) + ".." + std::to_string(high);
}

// Notes the failure `rc` of a call on `port` with its detail, and returns it.
int32_t failed(int32_t port, int32_t rc, const std::string& detail) {
    regwire::note_failure(port, detail);
    return rc;
}

// Checks shared by the four transfer functions; nothing is sent when they fail.
// Returns what is wrong, or an empty text.
std::string transfer_args_problem(int32_t port, int32_t station, int32_t start, int32_t count,
                                  int32_t max_count, int32_t words, bool write,
                                  const int32_t* buffer) {
    if (port <= 0) return "port " + std::to_string(port) + ": port numbers start at 1";
    const std::string at = "port " + std::to_string(port) + ": ";
    if (buffer == nullptr) return at + "no buffer";
    const int32_t lowest = write ? 0 : 1;
    if (station < lowest || station > kMaxStation) {
        return at + "station " + std::to_string(station) + " outside " + range(lowest, kMaxStation);
    }
    if (count < 1 || count > max_count) {
        return at + "count " + std::to_string(count) + " outside " + range(1, max_count);
    }
    if (!registers_fit(start, count * words)) {
        return at + std::to_string(count * words) + " registers from " + std::to_string(start) +
               " do not fit 0..65535";
    }
    return {};
}

// Which request of a call failed, from 1, of how many.
struct Progress {
    int failed = 0;
    int requests = 0;
};

// Runs `fn(port, progress)` with the port's open Port under its mutex, and notes
// a failure with the device, the station, what was asked and the reason.
template <typename Fn>
int32_t with_port(int32_t port, int32_t station, const char* what, int32_t start, int32_t registers,
                  Fn fn) {
    std::shared_ptr<Slot> slot = slot_for(port, false);
    std::unique_lock<std::mutex> lock;
    if (slot) lock = std::unique_lock<std::mutex>(slot->mutex);
    if (!slot || !slot->port)
        return failed(port, REGWIRE_ENOTOPEN, Port::describe(port) + ": not open");
    Progress progress;
    const regwire::Outcome o = fn(*slot->port, progress);
    if (o.result == REGWIRE_OK) return o.result;
    std::string detail = slot->port->describe() + ", station " + std::to_string(station) + ", " +
                         what + " registers " + range(start, start + registers - 1) + ": " +
                         (o.reason.empty() ? Regwire_strerror(o.result) : o.reason);
    if (progress.requests > 1) {
        detail += " (request " + std::to_string(progress.failed) + " of " +
                  std::to_string(progress.requests) + ")";
    }
    return failed(port, o.result, detail);
}

// Carries out `registers` registers from `start` in requests of at most `chunk`
// with `one(start, count, offset)`, stopping at the first failure.
template <typename One>
regwire::Outcome in_chunks(int registers, int chunk, Progress& progress, One one) {
    progress.requests = (registers + chunk - 1) / chunk;
    for (int done = 0; done < registers; done += chunk) {
        ++progress.failed;
        const int n = registers - done < chunk ? registers - done : chunk;
        regwire::Outcome o = one(done, n);
        if (o.result != REGWIRE_OK) return o;
    }
    return {REGWIRE_OK, {}};
}

regwire::Outcome read_all(Port& p, int station, int start, int registers, int chunk, uint16_t* dest,
                          Progress& progress) {
    return in_chunks(registers, chunk, progress, [&](int done, int n) {
        return p.read_registers(station, start + done, n, dest + done);
    });
}

regwire::Outcome write_all(Port& p, int station, int start, int registers, int chunk,
                           const uint16_t* src, Progress& progress) {
    return in_chunks(registers, chunk, progress, [&](int done, int n) {
        return p.write_registers(station, start + done, n, src + done);
    });
}

}  // namespace

extern "C" {

int32_t OpenPort_Modbus(int32_t port, int32_t speed, int32_t parity) {
    const int baud = regwire::baud_for_index(speed);
    const char parity_char = regwire::parity_for_index(parity);
    const std::string at = "port " + std::to_string(port) + ": ";
    if (port <= 0) return failed(port, REGWIRE_EBADARG, at + "port numbers start at 1");
    if (baud == 0) {
        return failed(port, REGWIRE_EBADARG,
                      at + "speed index " + std::to_string(speed) + " outside 0..8");
    }
    if (parity_char == 0) {
        return failed(port, REGWIRE_EBADARG,
                      at + "parity index " + std::to_string(parity) + " outside 0..2");
    }

    std::shared_ptr<Slot> slot = slot_for(port, true);
    std::lock_guard<std::mutex> lock(slot->mutex);
    slot->port.reset();  // an open port is closed first, then opened with the new settings
    return Port::open(port, baud, parity_char, slot->port);
}

int32_t ClosePort_Modbus(int32_t port) {
    if (port <= 0) {
        return failed(port, REGWIRE_EBADARG,
                      "port " + std::to_string(port) + ": port numbers start at 1");
    }
    std::shared_ptr<Slot> slot = slot_for(port, false);
    std::unique_lock<std::mutex> lock;
    if (slot) lock = std::unique_lock<std::mutex>(slot->mutex);
    if (!slot || !slot->port)
        return failed(port, REGWIRE_ENOTOPEN, Port::describe(port) + ": not open");
    slot->port.reset();
    return REGWIRE_OK;
}

int32_t Get_4X_DX(int32_t port, int32_t station, int32_t start, int32_t count, int32_t* buffer) {
    const std::string problem =
        transfer_args_problem(port, station, start, count, kMaxCount16, 1, false, buffer);
    if (!problem.empty()) return failed(port, REGWIRE_EBADARG, problem);
    return with_port(port, station, "reading", start, count, [&](Port& p, Progress& progress) {
        std::array<uint16_t, kMaxCount16> regs{};
        const regwire::Outcome o =
            read_all(p, station, start, count, kMaxReadRegisters, regs.data(), progress);
        if (o.result != REGWIRE_OK) return o;
        for (int32_t i = 0; i < count; ++i) {
            buffer[i] = static_cast<int16_t>(regs[static_cast<std::size_t>(i)]);
        }
        return o;
    });
}

int32_t Get_4X_LDX(int32_t port, int32_t station, int32_t start, int32_t count, int32_t* buffer) {
    const std::string problem =
        transfer_args_problem(port, station, start, count, kMaxCount32, 2, false, buffer);
    if (!problem.empty()) return failed(port, REGWIRE_EBADARG, problem);
    return with_port(port, station, "reading", start, 2 * count, [&](Port& p, Progress& progress) {
        std::array<uint16_t, 2 * kMaxCount32> regs{};
        // An even chunk, so that no value's two registers come from two requests.
        const regwire::Outcome o =
            read_all(p, station, start, 2 * count, kMaxReadRegisters - 1, regs.data(), progress);
        if (o.result != REGWIRE_OK) return o;
        for (int32_t i = 0; i < count; ++i) {
            const auto hi = static_cast<uint32_t>(regs[static_cast<std::size_t>(2 * i)]);
            const auto lo = static_cast<uint32_t>(regs[static_cast<std::size_t>(2 * i + 1)]);
            buffer[i] = static_cast<int32_t>((hi << 16) | lo);
        }
        return o;
    });
}

int32_t Set_4X_DX(int32_t port, int32_t station, int32_t start, int32_t count,
                  const int32_t* buffer) {
    const std::string problem =
        transfer_args_problem(port, station, start, count, kMaxCount16, 1, true, buffer);
    if (!problem.empty()) return failed(port, REGWIRE_EBADARG, problem);
    std::array<uint16_t, kMaxCount16> regs{};
    for (int32_t i = 0; i < count; ++i) {
        const int32_t v = buffer[i];
        // Signed or unsigned 16-bit; anything else would reach the device truncated.
        if (v < -32768 || v > 65535) {
            return failed(port, REGWIRE_ERANGE,
                          "port " + std::to_string(port) + ": value " + std::to_string(v) +
                              " (buffer[" + std::to_string(i) +
                              "]) outside -32768..65535, nothing sent");
        }
        regs[static_cast<std::size_t>(i)] = static_cast<uint16_t>(v & 0xFFFF);
    }
    return with_port(port, station, "writing", start, count, [&](Port& p, Progress& progress) {
        return write_all(p, station, start, count, kMaxWriteRegisters, regs.data(), progress);
    });
}

int32_t Set_4X_LDX(int32_t port, int32_t station, int32_t start, int32_t count,
                   const int32_t* buffer) {
    const std::string problem =
        transfer_args_problem(port, station, start, count, kMaxCount32, 2, true, buffer);
    if (!problem.empty()) return failed(port, REGWIRE_EBADARG, problem);
    std::array<uint16_t, 2 * kMaxCount32> regs{};
    for (int32_t i = 0; i < count; ++i) {
        const auto u = static_cast<uint32_t>(buffer[i]);
        regs[static_cast<std::size_t>(2 * i)] = static_cast<uint16_t>(u >> 16);
        regs[static_cast<std::size_t>(2 * i + 1)] = static_cast<uint16_t>(u & 0xFFFFu);
    }
    return with_port(port, station, "writing", start, 2 * count, [&](Port& p, Progress& progress) {
        return write_all(p, station, start, 2 * count, kMaxWriteRegisters - 1, regs.data(),
                         progress);
    });
}

const char* Regwire_strerror(int32_t result) {
    switch (result) {
        case REGWIRE_OK:
            return "success";
        case REGWIRE_EBADARG:
            return "argument out of range, nothing sent";
        case REGWIRE_ENOTOPEN:
            return "port not open";
        case REGWIRE_EOPEN:
            return "cannot open the port's device";
        case REGWIRE_ETIMEOUT:
            return "no reply within the response timeout";
        case REGWIRE_ECRC:
            return "bad CRC or malformed reply";
        case REGWIRE_ERANGE:
            return "value does not fit its register, nothing sent";
        case REGWIRE_ELOST:
            return "device lost, open the port again";
        case REGWIRE_EIO:
            return "line failure";
        case REGWIRE_EPENDING:
            return "an earlier request may still be answered; nothing sent";
        default:
            break;
    }
    if (REGWIRE_IS_EXCEPTION(result)) {
        // One text per possible code, made once; the pointers stay valid.
        static const std::array<std::string, 256> texts = [] {
            static const char* const names[] = {
                nullptr,
                "illegal function",
                "illegal data address",
                "illegal data value",
                "slave device failure",
                "acknowledge",
                "slave device busy",
                "negative acknowledge",
                "memory parity error",
                nullptr,
                "gateway path unavailable",
                "gateway target device failed to respond",
            };
            std::array<std::string, 256> t;
            for (std::size_t code = 1; code < t.size(); ++code) {
                t[code] = "Modbus exception " + std::to_string(code);
                if (code < std::size(names) && names[code] != nullptr) {
                    t[code] += std::string(" (") + names[code] + ")";
                }
            }
            return t;
        }();
        return texts[static_cast<std::size_t>(REGWIRE_EXCEPTION_CODE(result))].c_str();
    }
    return "unknown result code";
}

int32_t Regwire_lastfailure(int32_t port, char* text, int32_t size) {
    return regwire::copy_failure(port, text, size);
}

}  // extern "C"
