#pragma once

#include <cstdint>
#include <optional>

namespace tindlewave {

// The key and modifier flags the user has assigned to one of the system's own shortcuts.
struct SymbolicHotKeyValue {
    std::uint16_t keyCode = 0;  // 0xFFFF: no key assigned
    std::uint64_t flags = 0;    // the event flags to post the key with

    bool operator==(const SymbolicHotKeyValue&) const = default;
};

// The system's table of its own shortcuts ("symbolic hot keys"), by hot-key number. Callable
// from any thread.
class SymbolicHotKeys {
  public:
    virtual ~SymbolicHotKeys() = default;

    // False when the system offers no way to read the table; the other calls then give nothing.
    virtual bool isAvailable() const = 0;
    // The hot key's assigned key; none when it cannot be read.
    virtual std::optional<SymbolicHotKeyValue> value(std::uint16_t number) const = 0;
    // Whether the user has the shortcut switched on.
    virtual bool isEnabled(std::uint16_t number) const = 0;
};

}  // namespace tindlewave
