// SPDX-License-Identifier: MIT
#include "awaiting.h"

#include <algorithm>

namespace regwire {

void Awaiting::add(const pdu::Shape& shape, Clock::time_point sent, Clock::time_point horizon,
                   Clock::duration repeat_window) {
    if (entries_.size() >= kMostKept) {
        const auto oldest = std::find_if(entries_.begin(), entries_.end(),
                                         [](const Entry& e) { return e.answered.has_value(); });
        if (oldest != entries_.end()) entries_.erase(oldest);
    }
    entries_.push_back({shape, sent, horizon, repeat_window, std::nullopt, {}, false});
}

void Awaiting::expire(Clock::time_point now) {
    std::erase_if(entries_, [now](const Entry& e) { return e.kept_until() <= now; });
}

std::optional<Awaiting::Clock::time_point> Awaiting::in_use_until(const pdu::Shape& shape,
                                                                  bool avoid_recent,
                                                                  Clock::time_point now) const {
    std::optional<Clock::time_point> until;
    for (const Entry& e : entries_) {
        if (!(e.shape == shape)) continue;
        Clock::time_point u = e.horizon;
        if (e.answered && repeats_) {
            u = e.kept_until();
        } else if (e.answered) {
            if (!avoid_recent) continue;
            u = *e.answered + e.repeat_window;
        }
        if (u <= now) continue;
        until = until ? std::max(*until, u) : u;
    }
    return until;
}

std::optional<Awaiting::Clock::time_point> Awaiting::answer_earlier(int station, const uint8_t* pdu,
                                                                    std::size_t n,
                                                                    Clock::time_point at,
                                                                    bool exclude_newest,
                                                                    bool& repeat) {
    repeat = false;
    const std::size_t count = entries_.size() - (exclude_newest && !entries_.empty() ? 1 : 0);
    for (std::size_t i = 0; i < count; ++i) {
        Entry& e = entries_[i];
        if (e.answered || e.shape.station != station || !pdu::fits(e.shape, pdu, n)) continue;
        e.answered = at;
        e.reply.assign(pdu, pdu + n);
        return e.sent;
    }
    repeat = std::any_of(entries_.begin(), entries_.begin() + static_cast<long>(count),
                         [&](const Entry& e) {
                             return e.answered && e.shape.station == station &&
                                    std::equal(e.reply.begin(), e.reply.end(), pdu, pdu + n);
                         });
    return std::nullopt;
}

void Awaiting::answer_newest(Clock::time_point at, const uint8_t* pdu, std::size_t n) {
    if (entries_.empty()) return;
    entries_.back().answered = at;
    entries_.back().reply.assign(pdu, pdu + n);
}

void Awaiting::heard_newest() {
    if (!entries_.empty()) entries_.back().heard = true;
}

std::size_t Awaiting::unanswered(int station, Clock::time_point& oldest_until) const {
    std::size_t n = 0;
    for (const Entry& e : entries_) {
        if (e.answered || e.heard || e.shape.station != station) continue;
        if (n++ == 0) oldest_until = e.horizon;
    }
    return n;
}

}  // namespace regwire
