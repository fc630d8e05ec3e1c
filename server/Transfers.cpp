#include "server/Transfers.h"

#include <QElapsedTimer>

#include <algorithm>
#include <array>
#include <cstdio>

namespace transfers {

namespace {

int64_t nowMs() {
    static const QElapsedTimer clock = [] {
        QElapsedTimer timer;
        timer.start();
        return timer;
    }();
    return clock.elapsed();
}

} // namespace

// Written once when the transfer begins, but for `done`, which its worker alone adds to.
struct Entry::State {
    uint64_t id;
    Direction direction;
    std::string peer;
    std::string name;
    int64_t total;
    int64_t startMs;
    std::atomic<int64_t> done{0};
};

Entry& Entry::operator=(Entry&& other) noexcept {
    if (this != &other) {
        leave();
        board_ = other.board_;
        state_ = std::move(other.state_);
    }
    return *this;
}

Entry::~Entry() {
    leave();
}

void Entry::Add(int64_t bytes) {
    if (state_)
        state_->done.fetch_add(bytes, std::memory_order_relaxed);
}

void Entry::leave() {
    if (state_ && board_)
        board_->remove(state_.get());
    state_.reset();
}

Entry Board::Begin(Direction direction, std::string peer, std::string name, int64_t total) {
    if (total < kShownFromBytes)
        return {};
    auto state = std::make_shared<Entry::State>();
    state->direction = direction;
    state->peer = std::move(peer);
    state->name = std::move(name);
    state->total = total;
    state->startMs = nowMs();
    const std::lock_guard lock(mutex_);
    state->id = nextId_++;
    entries_.push_back(state);
    return Entry(this, std::move(state));
}

void Board::remove(const Entry::State* state) {
    const std::lock_guard lock(mutex_);
    std::erase_if(entries_, [state](const auto& entry) { return entry.get() == state; });
}

std::vector<Progress> Board::Snapshot() const {
    const int64_t now = nowMs();
    const std::lock_guard lock(mutex_);
    std::vector<Progress> list;
    list.reserve(entries_.size());
    for (const auto& e : entries_)
        list.push_back({e->id, e->direction, e->peer, e->name, e->total,
                        std::min(e->total, e->done.load(std::memory_order_relaxed)),
                        now - e->startMs});
    return list;
}

std::string SizeText(int64_t bytes) {
    if (bytes < 1000)
        return std::to_string(std::max<int64_t>(bytes, 0)) + " B";
    static constexpr std::array<const char*, 5> kUnits{"kB", "MB", "GB", "TB", "PB"};
    double value = static_cast<double>(bytes) / 1000;
    size_t unit = 0;
    // Promoted where the rounded figure would read 1000.
    while (value >= 999.5 && unit + 1 < kUnits.size()) {
        value /= 1000;
        ++unit;
    }
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), value < 9.95 ? "%.1f %s" : "%.0f %s", value,
                  kUnits[unit]);
    return text.data();
}

} // namespace transfers
