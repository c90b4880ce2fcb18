#include "Platform/Simulated/Desktop/SimulatedSymbolicHotKeys.h"

#include "Model/Keys.h"

namespace tindlewave {

namespace {

constexpr std::uint16_t leftArrow = 0x7B;
constexpr std::uint16_t rightArrow = 0x7C;
constexpr std::uint16_t downArrow = 0x7D;
constexpr std::uint16_t upArrow = 0x7E;
// Arrow keys carry the secondary-function and numeric-pad bits besides their modifiers.
constexpr std::uint64_t arrowFlags = 0x800000 | 0x200000;

}  // namespace

SimulatedSymbolicHotKeys::SimulatedSymbolicHotKeys() {
    table_[32] = {{upArrow, QuartzFlag::control | arrowFlags}, true};
    table_[33] = {{downArrow, QuartzFlag::control | arrowFlags}, true};
    table_[79] = {{leftArrow, QuartzFlag::control | arrowFlags}, true};
    table_[81] = {{rightArrow, QuartzFlag::control | arrowFlags}, true};
}

bool SimulatedSymbolicHotKeys::isAvailable() const {
    std::lock_guard lock(mutex_);
    return available_;
}

std::optional<SymbolicHotKeyValue> SimulatedSymbolicHotKeys::value(std::uint16_t number) const {
    std::lock_guard lock(mutex_);
    auto found = table_.find(number);
    if (!available_ || found == table_.end()) return std::nullopt;
    return found->second.value;
}

bool SimulatedSymbolicHotKeys::isEnabled(std::uint16_t number) const {
    std::lock_guard lock(mutex_);
    auto found = table_.find(number);
    return available_ && found != table_.end() && found->second.enabled;
}

void SimulatedSymbolicHotKeys::setAvailable(bool available) {
    std::lock_guard lock(mutex_);
    available_ = available;
}

void SimulatedSymbolicHotKeys::set(std::uint16_t number, Entry entry) {
    std::lock_guard lock(mutex_);
    table_[number] = entry;
}

void SimulatedSymbolicHotKeys::forget(std::uint16_t number) {
    std::lock_guard lock(mutex_);
    table_.erase(number);
}

void SimulatedSymbolicHotKeys::setEnabled(std::uint16_t number, bool enabled) {
    std::lock_guard lock(mutex_);
    if (auto found = table_.find(number); found != table_.end()) found->second.enabled = enabled;
}

}  // namespace tindlewave
