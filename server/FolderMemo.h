#pragma once

#include <sys/stat.h>

#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// What was read from a folder, kept for a moment: a page asked for many times a second is read
// and made once, and a change to the folder's entries shows at once. A folder's times change with
// every name added, removed or renamed in it; what they miss (a file that grows in place, a link
// whose target changes) shows within kMaxAge.
namespace foldermemo {

inline constexpr std::chrono::milliseconds kMaxAge{1000};

// The folder as its entries stand: a kept value made under another stamp is stale.
struct Stamp {
    dev_t device = 0;
    ino_t inode = 0;
    timespec modified{};
    timespec changed{};
    bool operator==(const Stamp& other) const;
};

// The folder's stamp (links followed); nullopt when it is no folder or cannot be looked at.
std::optional<Stamp> StampOf(const std::string& folder);

using Clock = std::chrono::steady_clock;

// Values by key, each with the stamp and time it was made under. Any thread: the values are
// immutable once kept, and the list is guarded by its mutex.
template <typename T> class Memo {
public:
    Memo(size_t maxEntries, size_t maxBytes) : maxEntries_(maxEntries), maxBytes_(maxBytes) {}

    std::shared_ptr<const T> Find(const std::string& key, const Stamp& stamp,
                                  Clock::time_point now = Clock::now()) const {
        const std::lock_guard lock(mutex_);
        for (const Kept& kept : kept_)
            if (kept.key == key)
                return kept.stamp == stamp && now - kept.made < kMaxAge ? kept.value : nullptr;
        return nullptr;
    }

    // Keeps `value` (about `bytes` large) in place of what the key held; the oldest values go
    // while there are too many or they hold too much. A value larger than the whole is not kept.
    void Keep(const std::string& key, const Stamp& stamp, std::shared_ptr<const T> value,
              size_t bytes, Clock::time_point now = Clock::now()) {
        const std::lock_guard lock(mutex_);
        std::erase_if(kept_, [&](const Kept& kept) { return kept.key == key; });
        if (bytes > maxBytes_)
            return;
        kept_.push_back({key, stamp, now, std::move(value), bytes});
        size_t total = 0;
        for (const Kept& kept : kept_)
            total += kept.bytes;
        while (kept_.size() > maxEntries_ || total > maxBytes_) {
            total -= kept_.front().bytes;
            kept_.erase(kept_.begin());
        }
    }

private:
    struct Kept {
        std::string key;
        Stamp stamp;
        Clock::time_point made;
        std::shared_ptr<const T> value;
        size_t bytes;
    };
    const size_t maxEntries_;
    const size_t maxBytes_;
    mutable std::mutex mutex_;
    std::vector<Kept> kept_; // oldest first; guarded by mutex_
};

} // namespace foldermemo
