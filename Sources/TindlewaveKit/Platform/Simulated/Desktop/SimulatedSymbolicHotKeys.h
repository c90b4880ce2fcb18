#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>

#include "Platform/SymbolicHotKeys.h"

namespace tindlewave {

// A table of hot keys a test sets at will. Made with the system actions' usual shortcuts:
// Control with the up (32), down (33), left (79) and right (81) arrows, all switched on.
// Thread-safe.
class SimulatedSymbolicHotKeys final : public SymbolicHotKeys {
  public:
    struct Entry {
        SymbolicHotKeyValue value;
        bool enabled = true;
        bool operator==(const Entry&) const = default;
    };

    SimulatedSymbolicHotKeys();

    bool isAvailable() const override;
    std::optional<SymbolicHotKeyValue> value(std::uint16_t number) const override;
    bool isEnabled(std::uint16_t number) const override;

    // Stands for a system whose table cannot be reached at all.
    void setAvailable(bool available);
    // Sets or replaces one hot key; forget() removes it (its reads then fail).
    void set(std::uint16_t number, Entry entry);
    void forget(std::uint16_t number);
    void setEnabled(std::uint16_t number, bool enabled);

  private:
    mutable std::mutex mutex_;
    bool available_ = true;
    std::map<std::uint16_t, Entry> table_;
};

}  // namespace tindlewave
