#pragma once

// The kernel's side of a keyboard node's key table for the device tests: EVIOCGKEYCODE_V2 by
// index and by scan code, EVIOCSKEYCODE_V2 by scan code, over a table the test sets and reads.

#include <linux/input.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>

#include "Platform/Linux/KeyMap/ScanCodeMap.h"
#include "TestKit/Umockdev/EmulatedNode.h"

namespace tindlewave::testkit::umockdev {

class KeyTableSide {
  public:
    KeyTableSide(Testbed& testbed, const std::string& devnode, ScanCodeMap table)
        : node_(testbed, devnode), table_(std::move(table)) {
        node_.onIoctl(EVIOCGKEYCODE_V2, [this](const std::shared_ptr<IoctlCall>& call) {
            auto entry = call->readAs<input_keymap_entry>();
            std::lock_guard lock(mutex_);
            ++calls_;
            auto at = table_.end();
            if (entry.flags & INPUT_KEYMAP_BY_INDEX) {
                if (entry.index < table_.size()) at = std::next(table_.begin(), entry.index);
            } else {
                at = table_.find(scanCodeOf(entry));
            }
            if (at == table_.end()) {
                call->complete(-1, EINVAL);
                return true;
            }
            entry.len = sizeof(std::uint32_t);
            std::memcpy(entry.scancode, &at->first, sizeof(std::uint32_t));
            entry.keycode = at->second;
            entry.index = static_cast<std::uint16_t>(std::distance(table_.begin(), at));
            call->writeAs(entry);
            call->complete(0);
            return true;
        });
        node_.onIoctl(EVIOCSKEYCODE_V2, [this](const std::shared_ptr<IoctlCall>& call) {
            const auto entry = call->readAs<input_keymap_entry>();
            std::lock_guard lock(mutex_);
            ++calls_;
            auto at = table_.find(scanCodeOf(entry));
            if (at == table_.end()) {
                call->complete(-1, EINVAL);
                return true;
            }
            if (!lagging_) at->second = static_cast<std::uint16_t>(entry.keycode);
            call->complete(0);
            return true;
        });
    }

    ScanCodeMap table() const {
        std::lock_guard lock(mutex_);
        return table_;
    }
    // Gives a scan code another key, as hwdb or another tool would.
    void set(std::uint32_t scanCode, std::uint16_t keyCode) {
        std::lock_guard lock(mutex_);
        table_[scanCode] = keyCode;
    }
    // Takes every write and keeps its table, as a keyboard that has not caught up.
    void setLagging(bool lagging) {
        std::lock_guard lock(mutex_);
        lagging_ = lagging;
    }
    int calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }

  private:
    static std::uint32_t scanCodeOf(const input_keymap_entry& entry) {
        std::uint32_t scanCode = 0;
        std::memcpy(&scanCode, entry.scancode, std::min<std::size_t>(entry.len, sizeof scanCode));
        return scanCode;
    }

    EmulatedNode node_;
    mutable std::mutex mutex_;
    ScanCodeMap table_;
    bool lagging_ = false;
    int calls_ = 0;
};

// A HID keyboard's table: a scan code per usage 0x04 to 0xE7 it has (256 entries at most), each
// with the kernel's key for it.
ScanCodeMap hidKeyboardTable();
// A laptop keyboard's: the scan codes of its own scheme.
ScanCodeMap laptopKeyboardTable();

}  // namespace tindlewave::testkit::umockdev
