#include "Model/Keys.h"

#include <array>
#include <cstdio>
#include <cstdlib>

namespace tindlewave {
namespace {

std::string lowerCased(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return lower;
}

// A duplicate while building a look-up is a fault of the table itself: stop at once.
template <class Map, class K>
void insertUnique(Map& map, K key, const KeyTable::Key& row) {
    if (!map.emplace(std::move(key), row).second) {
        std::fprintf(stderr, "key table: duplicate entry for \"%s\"\n", row.name.c_str());
        std::abort();
    }
}

struct HeldModifierInfo {
    HeldModifier modifier;
    std::string_view name;
    std::uint16_t keyCode;
    Modifiers generic;
    std::uint64_t deviceFlag;
};

constexpr std::array<HeldModifierInfo, 8> heldModifiers{{
    {HeldModifier::leftControl, "leftControl", 0x3B, Modifiers::control, 0x1},
    {HeldModifier::leftShift, "leftShift", 0x38, Modifiers::shift, 0x2},
    {HeldModifier::leftOption, "leftOption", 0x3A, Modifiers::option, 0x20},
    {HeldModifier::leftCommand, "leftCommand", 0x37, Modifiers::command, 0x8},
    {HeldModifier::rightControl, "rightControl", 0x3E, Modifiers::control, 0x2000},
    {HeldModifier::rightShift, "rightShift", 0x3C, Modifiers::shift, 0x4},
    {HeldModifier::rightOption, "rightOption", 0x3D, Modifiers::option, 0x40},
    {HeldModifier::rightCommand, "rightCommand", 0x36, Modifiers::command, 0x10},
}};

constexpr std::array<HeldModifier, 8> heldModifierCases{
    HeldModifier::leftControl, HeldModifier::leftShift,    HeldModifier::leftOption,
    HeldModifier::leftCommand, HeldModifier::rightControl, HeldModifier::rightShift,
    HeldModifier::rightOption, HeldModifier::rightCommand,
};

const HeldModifierInfo& info(HeldModifier modifier) {
    return heldModifiers[static_cast<std::size_t>(modifier)];
}

}  // namespace

const std::vector<KeyTable::Key>& KeyTable::keys() {
    static const std::vector<Key> table = [] {
        struct Row {
            const char* name;
            std::uint16_t usage;
            std::uint16_t keyCode;
        };
        static constexpr Row rows[] = {
            {"a", 0x04, 0x00},
            {"b", 0x05, 0x0B},
            {"c", 0x06, 0x08},
            {"d", 0x07, 0x02},
            {"e", 0x08, 0x0E},
            {"f", 0x09, 0x03},
            {"g", 0x0A, 0x05},
            {"h", 0x0B, 0x04},
            {"i", 0x0C, 0x22},
            {"j", 0x0D, 0x26},
            {"k", 0x0E, 0x28},
            {"l", 0x0F, 0x25},
            {"m", 0x10, 0x2E},
            {"n", 0x11, 0x2D},
            {"o", 0x12, 0x1F},
            {"p", 0x13, 0x23},
            {"q", 0x14, 0x0C},
            {"r", 0x15, 0x0F},
            {"s", 0x16, 0x01},
            {"t", 0x17, 0x11},
            {"u", 0x18, 0x20},
            {"v", 0x19, 0x09},
            {"w", 0x1A, 0x0D},
            {"x", 0x1B, 0x07},
            {"y", 0x1C, 0x10},
            {"z", 0x1D, 0x06},
            {"1", 0x1E, 0x12},
            {"2", 0x1F, 0x13},
            {"3", 0x20, 0x14},
            {"4", 0x21, 0x15},
            {"5", 0x22, 0x17},
            {"6", 0x23, 0x16},
            {"7", 0x24, 0x1A},
            {"8", 0x25, 0x1C},
            {"9", 0x26, 0x19},
            {"0", 0x27, 0x1D},
            {"return", 0x28, 0x24},
            {"escape", 0x29, 0x35},
            {"delete", 0x2A, 0x33},
            {"tab", 0x2B, 0x30},
            {"space", 0x2C, 0x31},
            {"minus", 0x2D, 0x1B},
            {"equal", 0x2E, 0x18},
            {"leftBracket", 0x2F, 0x21},
            {"rightBracket", 0x30, 0x1E},
            {"backslash", 0x31, 0x2A},
            {"semicolon", 0x33, 0x29},
            {"quote", 0x34, 0x27},
            {"grave", 0x35, 0x32},
            {"comma", 0x36, 0x2B},
            {"period", 0x37, 0x2F},
            {"slash", 0x38, 0x2C},
            {"capsLock", 0x39, 0x39},
            {"f1", 0x3A, 0x7A},
            {"f2", 0x3B, 0x78},
            {"f3", 0x3C, 0x63},
            {"f4", 0x3D, 0x76},
            {"f5", 0x3E, 0x60},
            {"f6", 0x3F, 0x61},
            {"f7", 0x40, 0x62},
            {"f8", 0x41, 0x64},
            {"f9", 0x42, 0x65},
            {"f10", 0x43, 0x6D},
            {"f11", 0x44, 0x67},
            {"f12", 0x45, 0x6F},
            {"home", 0x4A, 0x73},
            {"pageUp", 0x4B, 0x74},
            {"forwardDelete", 0x4C, 0x75},
            {"end", 0x4D, 0x77},
            {"pageDown", 0x4E, 0x79},
            {"right", 0x4F, 0x7C},
            {"left", 0x50, 0x7B},
            {"down", 0x51, 0x7D},
            {"up", 0x52, 0x7E},
        };
        std::vector<Key> keys;
        keys.reserve(std::size(rows));
        for (const Row& row : rows) {
            keys.push_back(Key{row.name, HIDUsage{row.usage}, KeyCode{row.keyCode}});
        }
        return keys;
    }();
    return table;
}

const std::map<std::string, KeyTable::Key, std::less<>>& KeyTable::byName() {
    static const auto map = [] {
        std::map<std::string, Key, std::less<>> built;
        for (const Key& key : keys()) insertUnique(built, lowerCased(key.name), key);
        return built;
    }();
    return map;
}

const std::unordered_map<HIDUsage, KeyTable::Key>& KeyTable::byUsage() {
    static const auto map = [] {
        std::unordered_map<HIDUsage, Key> built;
        for (const Key& key : keys()) insertUnique(built, key.usage, key);
        return built;
    }();
    return map;
}

const std::unordered_map<KeyCode, KeyTable::Key>& KeyTable::byKeyCode() {
    static const auto map = [] {
        std::unordered_map<KeyCode, Key> built;
        for (const Key& key : keys()) insertUnique(built, key.keyCode, key);
        return built;
    }();
    return map;
}

std::optional<HIDUsage> HIDUsage::named(std::string_view name) {
    const auto& map = KeyTable::byName();
    auto found = map.find(lowerCased(name));
    if (found == map.end()) return std::nullopt;
    return found->second.usage;
}

const std::vector<HIDUsage>& HIDUsage::allNamed() {
    static const std::vector<HIDUsage> usages = [] {
        std::vector<HIDUsage> built;
        for (const KeyTable::Key& key : KeyTable::keys()) built.push_back(key.usage);
        return built;
    }();
    return usages;
}

std::optional<std::string> HIDUsage::name() const {
    const auto& map = KeyTable::byUsage();
    auto found = map.find(*this);
    if (found == map.end()) return std::nullopt;
    return found->second.name;
}

std::optional<KeyCode> KeyCode::named(std::string_view name) {
    const auto& map = KeyTable::byName();
    auto found = map.find(lowerCased(name));
    if (found == map.end()) return std::nullopt;
    return found->second.keyCode;
}

std::optional<KeyCode> KeyCode::fromVirtualKeyCode(std::uint16_t code) {
    if (!KeyTable::byKeyCode().contains(KeyCode{code})) return std::nullopt;
    return KeyCode{code};
}

std::optional<std::string> KeyCode::name() const {
    const auto& map = KeyTable::byKeyCode();
    auto found = map.find(*this);
    if (found == map.end()) return std::nullopt;
    return found->second.name;
}

std::string_view toText(HeldModifier modifier) {
    return info(modifier).name;
}

template <>
std::optional<HeldModifier> fromText<HeldModifier>(std::string_view text) {
    for (const HeldModifierInfo& entry : heldModifiers) {
        if (entry.name == text) return entry.modifier;
    }
    return std::nullopt;
}

template <>
std::span<const HeldModifier> allCases<HeldModifier>() {
    return heldModifierCases;
}

std::uint16_t virtualKeyCode(HeldModifier modifier) {
    return info(modifier).keyCode;
}

Modifiers generic(HeldModifier modifier) {
    return info(modifier).generic;
}

std::uint64_t deviceFlag(HeldModifier modifier) {
    return info(modifier).deviceFlag;
}

std::uint64_t withoutModifiers(std::uint64_t flags, Modifiers modifiers) {
    Modifiers stillDown;
    for (const HeldModifierInfo& entry : heldModifiers) {
        if ((flags & entry.deviceFlag) != 0) stillDown |= entry.generic;
    }
    return flags & ~quartzFlags(modifiers.without(stillDown));
}

std::optional<HeldModifier> heldModifierFromVirtualKeyCode(std::uint16_t code) {
    for (const HeldModifierInfo& entry : heldModifiers) {
        if (entry.keyCode == code) return entry.modifier;
    }
    return std::nullopt;
}

}  // namespace tindlewave
