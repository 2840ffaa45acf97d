// SPDX-License-Identifier: MIT
// One call of a Regwire transfer function, as the reliability tests make them:
// which function, from which register, how many values; and how the library
// splits it into requests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "regwire.h"

namespace reliability {

enum class Op { ReadDX, ReadLDX, WriteDX, WriteLDX };
inline constexpr Op kOps[] = {Op::ReadDX, Op::ReadLDX, Op::WriteDX, Op::WriteLDX};

inline const char* op_name(Op op) {
    switch (op) {
        case Op::ReadDX:
            return "Get_4X_DX";
        case Op::ReadLDX:
            return "Get_4X_LDX";
        case Op::WriteDX:
            return "Set_4X_DX";
        case Op::WriteLDX:
            return "Set_4X_LDX";
    }
    return "?";
}

inline bool is_read(Op op) {
    return op == Op::ReadDX || op == Op::ReadLDX;
}
inline int width(Op op) {
    return op == Op::ReadLDX || op == Op::WriteLDX ? 2 : 1;
}

// Registers per request, as the library splits a call.
inline int chunk_registers(Op op) {
    switch (op) {
        case Op::ReadDX:
            return 125;
        case Op::ReadLDX:
            return 124;
        case Op::WriteDX:
            return 123;
        case Op::WriteLDX:
            return 122;
    }
    return 1;
}

struct Call {
    Op op;
    int start;
    int count;  // values
};

inline std::string describe(const Call& c) {
    std::ostringstream out;
    out << op_name(c.op) << "(start " << c.start << ", count " << c.count << ")";
    return out.str();
}

// The requests of a call: first register and register count of each.
struct Chunk {
    int start;
    int count;
};

inline std::vector<Chunk> chunks(const Call& c) {
    std::vector<Chunk> out;
    const int registers = c.count * width(c.op);
    for (int done = 0; done < registers; done += chunk_registers(c.op)) {
        out.push_back({c.start + done, std::min(chunk_registers(c.op), registers - done)});
    }
    return out;
}

inline int32_t invoke(int32_t port, int32_t station, const Call& c, int32_t* buffer) {
    switch (c.op) {
        case Op::ReadDX:
            return Get_4X_DX(port, station, c.start, c.count, buffer);
        case Op::ReadLDX:
            return Get_4X_LDX(port, station, c.start, c.count, buffer);
        case Op::WriteDX:
            return Set_4X_DX(port, station, c.start, c.count, buffer);
        case Op::WriteLDX:
            return Set_4X_LDX(port, station, c.start, c.count, buffer);
    }
    return REGWIRE_EBADARG;
}

}  // namespace reliability
