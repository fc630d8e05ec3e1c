#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// The large transfers in progress, for the window to show with their progress. A worker counts
// its bytes into its own entry without a lock and without waking anybody; the window looks at
// the board a few times a second while anything is on it.
namespace transfers {

// Downloads and uploads smaller than this end before a progress bar could say anything.
inline constexpr int64_t kShownFromBytes = 4ll * 1024 * 1024;

enum class Direction { Download, Upload };

// What the window sees of one transfer at one moment.
struct Progress {
    uint64_t id;
    Direction direction;
    std::string peer;
    std::string name; // the target as the request named it
    int64_t total;    // bytes the transfer will move
    int64_t done;
    int64_t elapsedMs; // since it began
};

class Board;

// One worker's transfer on the board, from its construction to its end. Its thread counts.
class Entry {
public:
    Entry() = default;
    Entry(Entry&&) noexcept = default;
    Entry& operator=(Entry&&) noexcept;
    ~Entry();
    explicit operator bool() const { return state_ != nullptr; }
    void Add(int64_t bytes);

private:
    friend class Board;
    struct State;
    Entry(Board* board, std::shared_ptr<State> state) : board_(board), state_(std::move(state)) {}
    void leave();

    Board* board_ = nullptr;
    std::shared_ptr<State> state_;
};

// Shared by every worker and the UI thread; the list is guarded by its mutex, each entry's count
// is atomic (its worker writes it while the window reads it).
// Neither copied nor moved (its mutex sees to that): entries point at it.
class Board {
public:
    // An entry for a transfer of `total` bytes; an empty one, which counts nothing, below
    // kShownFromBytes. Any thread.
    Entry Begin(Direction direction, std::string peer, std::string name, int64_t total);
    // The transfers in progress, oldest first. Any thread.
    std::vector<Progress> Snapshot() const;

private:
    friend class Entry;
    void remove(const Entry::State* state);

    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<Entry::State>> entries_; // guarded by mutex_
    uint64_t nextId_ = 1;                                // guarded by mutex_
};

// "1.2 MB", "312 B": sizes as the window shows them, in powers of 1000 as file managers do.
std::string SizeText(int64_t bytes);

} // namespace transfers
