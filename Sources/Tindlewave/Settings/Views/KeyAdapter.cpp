#include "Settings/Views/KeyAdapter.h"

#include <QKeyEvent>
#include <array>
#include <utility>

#include "Model/EnumText.h"

namespace tindlewave {

namespace {

// X key codes (the kernel's key numbers plus 8) and the virtual key codes of the same keys.
constexpr std::pair<std::uint16_t, std::uint16_t> byScanCode[] = {
    {9, 53},    {10, 18},   {11, 19},  {12, 20},  {13, 21},  {14, 23},  {15, 22},  {16, 26},
    {17, 28},   {18, 25},   {19, 29},  {20, 27},  {21, 24},  {22, 51},  {23, 48},  {24, 12},
    {25, 13},   {26, 14},   {27, 15},  {28, 17},  {29, 16},  {30, 32},  {31, 34},  {32, 31},
    {33, 35},   {34, 33},   {35, 30},  {36, 36},  {38, 0},   {39, 1},   {40, 2},   {41, 3},
    {42, 5},    {43, 4},    {44, 38},  {45, 40},  {46, 37},  {47, 41},  {48, 39},  {49, 50},
    {51, 42},   {52, 6},    {53, 7},   {54, 8},   {55, 9},   {56, 11},  {57, 45},  {58, 46},
    {59, 43},   {60, 47},   {61, 44},  {63, 67},  {65, 49},  {66, 57},  {67, 122}, {68, 120},
    {69, 99},   {70, 118},  {71, 96},  {72, 97},  {73, 98},  {74, 100}, {75, 101}, {76, 109},
    {95, 103},  {96, 111},  {104, 76}, {110, 115}, {111, 126}, {112, 116}, {113, 123}, {114, 124},
    {115, 119}, {116, 125}, {117, 121}, {118, 114}, {119, 117}, {191, 105}, {192, 107}, {193, 113},
    {194, 106}, {195, 64},  {196, 79}, {197, 80},  {198, 90},  {94, 10},
};

constexpr std::pair<int, std::uint16_t> byQtKey[] = {
    {Qt::Key_Escape, 53},   {Qt::Key_Return, 36},   {Qt::Key_Enter, 76},    {Qt::Key_Tab, 48},
    {Qt::Key_Space, 49},    {Qt::Key_Backspace, 51}, {Qt::Key_Delete, 117}, {Qt::Key_Left, 123},
    {Qt::Key_Right, 124},   {Qt::Key_Down, 125},    {Qt::Key_Up, 126},      {Qt::Key_Home, 115},
    {Qt::Key_End, 119},     {Qt::Key_PageUp, 116},  {Qt::Key_PageDown, 121}, {Qt::Key_CapsLock, 57},
    {Qt::Key_F1, 122},      {Qt::Key_F2, 120},      {Qt::Key_F3, 99},       {Qt::Key_F4, 118},
    {Qt::Key_F5, 96},       {Qt::Key_F6, 97},       {Qt::Key_F7, 98},       {Qt::Key_F8, 100},
    {Qt::Key_F9, 101},      {Qt::Key_F10, 109},     {Qt::Key_F11, 103},     {Qt::Key_F12, 111},
    {Qt::Key_Minus, 27},    {Qt::Key_Equal, 24},    {Qt::Key_Comma, 43},    {Qt::Key_Period, 47},
    {Qt::Key_Slash, 44},    {Qt::Key_Semicolon, 41}, {Qt::Key_Apostrophe, 39}, {Qt::Key_Backslash, 42},
};

// Letters A to Z and digits 0 to 9 by their virtual key codes.
constexpr std::array<std::uint16_t, 26> letters{0,  11, 8,  2,  14, 3,  5,  4,  34, 38, 40, 37, 46,
                                                45, 31, 35, 12, 15, 1,  17, 32, 9,  13, 7,  16, 6};
constexpr std::array<std::uint16_t, 10> digits{29, 18, 19, 20, 21, 23, 22, 26, 28, 25};

constexpr std::pair<std::uint16_t, HeldModifier> modifierScanCodes[] = {
    {37, HeldModifier::leftControl},
    {105, HeldModifier::rightControl},
    {50, HeldModifier::leftShift},
    {62, HeldModifier::rightShift},
    {64, HeldModifier::leftOption},
    {108, HeldModifier::rightOption},
    {133, HeldModifier::leftCommand},
    {134, HeldModifier::rightCommand},
};

std::uint8_t bit(HeldModifier modifier) { return static_cast<std::uint8_t>(1u << static_cast<int>(modifier)); }


}  // namespace

std::optional<HeldModifier> KeyAdapter::modifier(const QKeyEvent& event) {
    const auto scanCode = event.nativeScanCode();
    for (const auto& [code, modifier] : modifierScanCodes)
        if (code == scanCode) return modifier;
    if (scanCode != 0) return std::nullopt;
    switch (event.key()) {
        case Qt::Key_Control: return HeldModifier::leftControl;
        case Qt::Key_Shift: return HeldModifier::leftShift;
        case Qt::Key_Alt: return HeldModifier::leftOption;
        case Qt::Key_AltGr: return HeldModifier::rightOption;
        case Qt::Key_Meta:
        case Qt::Key_Super_L: return HeldModifier::leftCommand;
        case Qt::Key_Super_R: return HeldModifier::rightCommand;
        default: return std::nullopt;
    }
}

std::optional<std::uint16_t> KeyAdapter::keyCode(const QKeyEvent& event) {
    if (const auto held = modifier(event)) return virtualKeyCode(*held);
    if (const auto scanCode = event.nativeScanCode(); scanCode != 0) {
        for (const auto& [code, virtualCode] : byScanCode)
            if (code == scanCode) return virtualCode;
        return std::nullopt;
    }
    const int key = event.key();
    if (key >= Qt::Key_A && key <= Qt::Key_Z) return letters[static_cast<std::size_t>(key - Qt::Key_A)];
    if (key >= Qt::Key_0 && key <= Qt::Key_9) return digits[static_cast<std::size_t>(key - Qt::Key_0)];
    for (const auto& [qtKey, virtualCode] : byQtKey)
        if (qtKey == key) return virtualCode;
    return std::nullopt;
}

std::uint64_t KeyAdapter::flags(const QKeyEvent& event) const {
    std::uint64_t word = 0;
    for (const HeldModifier held : allCases<HeldModifier>())
        if (down_ & bit(held)) word |= quartzFlags(generic(held)) | deviceFlag(held);
    // Keys that went down before this adapter listened still count as generic modifiers, except
    // for a modifier key's own event, whose flags the adapter's record describes.
    if (!modifier(event)) {
        const auto mods = event.modifiers();
        if (mods & Qt::ControlModifier) word |= QuartzFlag::control;
        if (mods & Qt::AltModifier) word |= QuartzFlag::option;
        if (mods & Qt::ShiftModifier) word |= QuartzFlag::shift;
        if (mods & Qt::MetaModifier) word |= QuartzFlag::command;
    }
    return word;
}

KeyAdapter::Event KeyAdapter::translate(const QKeyEvent& event) {
    const bool press = event.type() == QEvent::KeyPress;
    if (const auto held = modifier(event)) {
        if (event.isAutoRepeat()) return {};
        if (press) down_ |= bit(held.value());
        else down_ &= static_cast<std::uint8_t>(~bit(held.value()));
        return {Event::Kind::flagsChanged, virtualKeyCode(*held), flags(event)};
    }
    if (!press) return {};
    return {Event::Kind::keyDown, keyCode(event), flags(event)};
}

}  // namespace tindlewave
