// SPDX-License-Identifier: MIT
#include "failure.h"

#include <cstring>
#include <limits>
#include <map>
#include <mutex>
#include <utility>

namespace regwire {

namespace {

// Port numbers are the caller's to choose; the store keeps this many at most.
constexpr std::size_t kMaxPorts = 256;

std::mutex g_mutex;

std::map<int32_t, std::string>& details() {
    static std::map<int32_t, std::string> store;
    return store;
}

// The longest prefix of `text` of at most `limit` bytes that ends on a UTF-8
// character boundary.
std::size_t cut(const std::string& text, std::size_t limit) {
    if (text.size() <= limit) return text.size();
    std::size_t n = limit;
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0u) == 0x80u) --n;
    return n;
}

}  // namespace

void note_failure(int32_t port, std::string text) {
    std::lock_guard<std::mutex> lock(g_mutex);
    auto& store = details();
    if (store.size() >= kMaxPorts && store.find(port) == store.end()) store.erase(store.begin());
    store[port] = std::move(text);
}

int32_t copy_failure(int32_t port, char* text, int32_t size) {
    std::lock_guard<std::mutex> lock(g_mutex);
    const auto& store = details();
    const auto it = store.find(port);
    const std::string empty;
    const std::string& detail = it != store.end() ? it->second : empty;
    if (text != nullptr && size > 0) {
        const std::size_t n = cut(detail, static_cast<std::size_t>(size) - 1);
        std::memcpy(text, detail.data(), n);
        text[n] = '\0';
    }
    constexpr auto kMax = static_cast<std::size_t>(std::numeric_limits<int32_t>::max());
    return static_cast<int32_t>(detail.size() < kMax ? detail.size() : kMax);
}

}  // namespace regwire
