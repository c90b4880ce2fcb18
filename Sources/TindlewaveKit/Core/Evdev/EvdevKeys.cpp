#include "Core/Evdev/EvdevKeys.h"

#include <linux/input-event-codes.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "Core/Keys/KeyRoutes.h"

namespace tindlewave::evdevkeys {

namespace {

static_assert(maxCode == KEY_MAX);

struct UsageCode {
    std::uint16_t usage;  // keyboard page
    std::uint16_t code;   // KEY_*
};

// The kernel's code for each keyboard-page usage the program names.
constexpr UsageCode usageCodes[] = {
    {0x04, KEY_A},          {0x05, KEY_B},          {0x06, KEY_C},          {0x07, KEY_D},
    {0x08, KEY_E},          {0x09, KEY_F},          {0x0A, KEY_G},          {0x0B, KEY_H},
    {0x0C, KEY_I},          {0x0D, KEY_J},          {0x0E, KEY_K},          {0x0F, KEY_L},
    {0x10, KEY_M},          {0x11, KEY_N},          {0x12, KEY_O},          {0x13, KEY_P},
    {0x14, KEY_Q},          {0x15, KEY_R},          {0x16, KEY_S},          {0x17, KEY_T},
    {0x18, KEY_U},          {0x19, KEY_V},          {0x1A, KEY_W},          {0x1B, KEY_X},
    {0x1C, KEY_Y},          {0x1D, KEY_Z},          {0x1E, KEY_1},          {0x1F, KEY_2},
    {0x20, KEY_3},          {0x21, KEY_4},          {0x22, KEY_5},          {0x23, KEY_6},
    {0x24, KEY_7},          {0x25, KEY_8},          {0x26, KEY_9},          {0x27, KEY_0},
    {0x28, KEY_ENTER},      {0x29, KEY_ESC},        {0x2A, KEY_BACKSPACE},  {0x2B, KEY_TAB},
    {0x2C, KEY_SPACE},      {0x2D, KEY_MINUS},      {0x2E, KEY_EQUAL},      {0x2F, KEY_LEFTBRACE},
    {0x30, KEY_RIGHTBRACE}, {0x31, KEY_BACKSLASH},  {0x33, KEY_SEMICOLON},  {0x34, KEY_APOSTROPHE},
    {0x35, KEY_GRAVE},      {0x36, KEY_COMMA},      {0x37, KEY_DOT},        {0x38, KEY_SLASH},
    {0x39, KEY_CAPSLOCK},   {0x3A, KEY_F1},         {0x3B, KEY_F2},         {0x3C, KEY_F3},
    {0x3D, KEY_F4},         {0x3E, KEY_F5},         {0x3F, KEY_F6},         {0x40, KEY_F7},
    {0x41, KEY_F8},         {0x42, KEY_F9},         {0x43, KEY_F10},        {0x44, KEY_F11},
    {0x45, KEY_F12},        {0x4A, KEY_HOME},       {0x4B, KEY_PAGEUP},     {0x4C, KEY_DELETE},
    {0x4D, KEY_END},        {0x4E, KEY_PAGEDOWN},   {0x4F, KEY_RIGHT},      {0x50, KEY_LEFT},
    {0x51, KEY_DOWN},       {0x52, KEY_UP},         {0x68, KEY_F13},        {0x69, KEY_F14},
    {0x6A, KEY_F15},        {0x6B, KEY_F16},        {0x6C, KEY_F17},        {0x6D, KEY_F18},
    {0x6E, KEY_F19},        {0x6F, KEY_F20},
};

// The side modifiers in HeldModifier's case order (usages 0xE0 to 0xE7).
constexpr std::array<std::uint16_t, 8> modifierCodes{
    KEY_LEFTCTRL,  KEY_LEFTSHIFT,  KEY_LEFTALT,  KEY_LEFTMETA,
    KEY_RIGHTCTRL, KEY_RIGHTSHIFT, KEY_RIGHTALT, KEY_RIGHTMETA,
};

constexpr std::uint16_t none = 0xFFFF;

struct Tables {
    std::array<std::uint16_t, maxCode + 1> toKeyCode;  // by evdev code
    std::array<std::uint16_t, 256> toEvdev;            // by virtual key code
    std::array<std::uint8_t, maxCode + 1> toModifier;  // HeldModifier + 1, 0 for none
};

void join(Tables& tables, std::uint16_t code, KeyCode key) {
    if (key.rawValue >= tables.toEvdev.size() || tables.toEvdev[key.rawValue] != none ||
        tables.toKeyCode[code] != none) {
        std::fprintf(stderr, "evdev key table: key code 0x%X or evdev code %u given twice\n",
                     key.rawValue, code);
        std::abort();
    }
    tables.toEvdev[key.rawValue] = code;
    tables.toKeyCode[code] = key.rawValue;
}

const Tables& tables() {
    static const Tables built = [] {
        Tables t;
        t.toKeyCode.fill(none);
        t.toEvdev.fill(none);
        t.toModifier.fill(0);
        const auto& byUsage = KeyTable::byUsage();
        for (const UsageCode& entry : usageCodes) {
            if (auto row = byUsage.find(HIDUsage{entry.usage}); row != byUsage.end()) {
                join(t, entry.code, row->second.keyCode);
                continue;
            }
            for (const Carrier& carrier : Carrier::all()) {
                if (carrier.usage.rawValue == entry.usage) join(t, entry.code, carrier.keyCode);
            }
        }
        for (HeldModifier m : allCases<HeldModifier>()) {
            const std::uint16_t code = modifierCodes[static_cast<std::size_t>(m)];
            join(t, code, KeyCode{virtualKeyCode(m)});
            t.toModifier[code] = static_cast<std::uint8_t>(static_cast<int>(m) + 1);
        }
        return t;
    }();
    return built;
}

}  // namespace

std::optional<std::uint16_t> evdevCode(KeyCode key) {
    if (key.rawValue >= 256) return std::nullopt;
    const std::uint16_t code = tables().toEvdev[key.rawValue];
    if (code == none) return std::nullopt;
    return code;
}

std::optional<KeyCode> keyCode(std::uint16_t code) {
    if (code > maxCode) return std::nullopt;
    const std::uint16_t key = tables().toKeyCode[code];
    if (key == none) return std::nullopt;
    return KeyCode{key};
}

std::optional<HeldModifier> modifier(std::uint16_t code) {
    if (code > maxCode) return std::nullopt;
    const std::uint8_t m = tables().toModifier[code];
    if (m == 0) return std::nullopt;
    return static_cast<HeldModifier>(m - 1);
}

std::uint16_t evdevCode(HeldModifier modifier) {
    return modifierCodes[static_cast<std::size_t>(modifier)];
}

std::optional<std::uint16_t> evdevCode(HIDUsage usage) {
    for (const UsageCode& entry : usageCodes)
        if (entry.usage == usage.rawValue) return entry.code;
    if (usage.rawValue >= 0xE0 && usage.rawValue <= 0xE7) return modifierCodes[usage.rawValue - 0xE0];
    return std::nullopt;
}

std::optional<HIDUsage> usage(std::uint16_t code) {
    for (const UsageCode& entry : usageCodes)
        if (entry.code == code) return HIDUsage{entry.usage};
    for (std::size_t m = 0; m < modifierCodes.size(); ++m)
        if (modifierCodes[m] == code) return HIDUsage{static_cast<std::uint16_t>(0xE0 + m)};
    return std::nullopt;
}

std::span<const std::uint16_t> routableCodes() {
    static const auto codes = [] {
        std::vector<std::uint16_t> all;
        for (const UsageCode& entry : usageCodes) all.push_back(entry.code);
        for (std::uint16_t code : modifierCodes) all.push_back(code);
        for (std::uint16_t code : {KEY_F21, KEY_F22, KEY_F23, KEY_F24}) all.push_back(code);
        std::sort(all.begin(), all.end());
        all.erase(std::unique(all.begin(), all.end()), all.end());
        return all;
    }();
    return codes;
}

}  // namespace tindlewave::evdevkeys
