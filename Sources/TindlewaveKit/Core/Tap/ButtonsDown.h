#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "Core/Devices/DeviceIDs.h"

namespace tindlewave {

// The right and other mouse buttons that are down, by event service and number, as far as their
// downs and ups were seen: tells whether a drag of a held button's number may come from another
// service, so that only then its origin is asked for. Fixed storage; past its capacity it
// answers "maybe" until no button it knows of is down. An up missed (while the tap was
// disabled) leaves an entry that only makes it answer "maybe"; a down missed there is unknown.
class ButtonsDown {
  public:
    // A button of `sender` (none: an event without a HID event behind it) went down or up.
    void down(std::optional<SenderID> sender, std::int64_t number) {
        if (find(sender, number) != end()) return;
        if (count_ == entries_.size()) {
            unsure_ = true;
            return;
        }
        entries_[count_++] = Entry{sender, number};
    }
    void up(std::optional<SenderID> sender, std::int64_t number) {
        if (auto found = find(sender, number); found != end()) {
            *found = entries_[--count_];
        }
        if (count_ == 0) unsure_ = false;
    }
    // Whether a button of this number but another service may be down.
    bool mayShare(SenderID sender, std::int64_t number) const {
        if (unsure_) return true;
        return std::any_of(begin(), end(), [&](const Entry& entry) {
            return entry.number == number && entry.sender != sender;
        });
    }

  private:
    struct Entry {
        std::optional<SenderID> sender;
        std::int64_t number = 0;
    };
    const Entry* begin() const { return entries_.data(); }
    const Entry* end() const { return entries_.data() + count_; }
    Entry* end() { return entries_.data() + count_; }
    Entry* find(std::optional<SenderID> sender, std::int64_t number) {
        return std::find_if(entries_.data(), end(), [&](const Entry& entry) {
            return entry.number == number && entry.sender == sender;
        });
    }

    std::array<Entry, 16> entries_{};
    std::size_t count_ = 0;
    bool unsure_ = false;
};

}  // namespace tindlewave
