// The labels of controls, triggers, keys and chords.

#include "Settings/Model/Texts/Labels.h"

#include <algorithm>
#include <array>

#include "Core/Overloaded.h"
#include "Model/HexCoding.h"
#include "Runtime/Worlds/WorldTexts.h"

namespace tindlewave::Labels {

namespace {

const std::unordered_map<std::string_view, std::string_view>& keySymbols() {
    static const std::unordered_map<std::string_view, std::string_view> table{
        {"return", "↩"},   {"escape", "⎋"},     {"delete", "⌫"},      {"forwardDelete", "⌦"},
        {"tab", "⇥"},      {"space", "Space"},  {"capsLock", "⇪"},    {"left", "←"},
        {"right", "→"},    {"up", "↑"},         {"down", "↓"},        {"home", "↖"},
        {"end", "↘"},      {"pageUp", "⇞"},     {"pageDown", "⇟"},    {"minus", "-"},
        {"equal", "="},    {"leftBracket", "["}, {"rightBracket", "]"}, {"backslash", "\\"},
        {"semicolon", ";"}, {"quote", "'"},     {"grave", "`"},       {"comma", ","},
        {"period", "."},   {"slash", "/"},
    };
    return table;
}

const std::unordered_map<std::string_view, std::string_view>& keyWords() {
    static const std::unordered_map<std::string_view, std::string_view> table{
        {"left", "Left Arrow"}, {"right", "Right Arrow"}, {"up", "Up Arrow"},
        {"down", "Down Arrow"}, {"grave", "Backtick"},    {"equal", "Equals"},
    };
    return table;
}

bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isUpper(char c) {
    return c >= 'A' && c <= 'Z';
}
char upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}
std::string uppercased(std::string_view text) {
    std::string result(text);
    for (char& c : result) c = upper(c);
    return result;
}

}  // namespace

const std::unordered_map<std::uint16_t, std::string_view>& controlNames() {
    static const std::unordered_map<std::uint16_t, std::string_view> table{
        {0x50, "Left button"},    {0x51, "Right button"},   {0x52, "Middle button"},
        {0x53, "Back button"},    {0x56, "Forward button"}, {0xC3, "Gesture button"},
        {0xC4, "Top button"},
    };
    return table;
}

const std::unordered_map<std::int64_t, std::string_view>& buttonNames() {
    static const std::unordered_map<std::int64_t, std::string_view> table{
        {1, "Right button"}, {2, "Middle button"}, {3, "Back button"}, {4, "Forward button"}};
    return table;
}

std::string modifierName(HeldModifier modifier) {
    return modifierKeyName(modifier);
}

std::string modifierSymbol(HeldModifier modifier) {
    const auto symbols = tindlewave::modifierSymbols(generic(modifier));
    return symbols.empty() ? std::string() : symbols.front();
}

std::string control(const Control& control) {
    return std::visit(
        Overloaded{
            [](const Control::Hidpp& c) {
                const auto& names = controlNames();
                const auto found = names.find(c.cid.rawValue);
                return found != names.end() ? std::string(found->second)
                                            : "Button " + hexText(c.cid.rawValue);
            },
            [](const Control::Button& c) {
                const auto& names = buttonNames();
                const auto found = names.find(c.number);
                return found != names.end() ? std::string(found->second)
                                            : "Button " + std::to_string(c.number);
            },
            [](const Control::Key& c) { return "Sends " + key(c.usage.name().value_or("")); },
            [](const Control::ThumbWheel&) { return std::string("Thumb wheel"); },
        },
        control.value);
}

std::string trigger(const Trigger& trigger) {
    return std::visit(Overloaded{
                          [](const Trigger::Click&) { return std::string("Click"); },
                          [](const Trigger::Hold&) { return std::string("Hold"); },
                          [](const Trigger::Scroll&) { return std::string("Scroll"); },
                          [](const Trigger::HoldMove& t) {
                              if (!t.direction) return std::string("Hold and move");
                              std::string direction(toText(*t.direction));
                              for (char& c : direction) {
                                  if (isUpper(c)) c = static_cast<char>(c - 'A' + 'a');
                              }
                              return "Hold, move " + direction;
                          },
                      },
                      trigger.value);
}

std::string key(std::string_view name) {
    if (const auto word = keyWords().find(name); word != keyWords().end()) {
        return std::string(word->second);
    }
    if (!name.empty() && name.size() < 4 && isLetter(name.front()) &&
        std::ranges::all_of(name.substr(1), isDigit)) {
        return uppercased(name);
    }
    std::string words;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const bool startsWord = i == 0 || isUpper(name[i]);
        if (startsWord && i > 0) words += ' ';
        words += startsWord ? upper(name[i]) : name[i];
    }
    return words;
}

std::vector<std::string> modifierSymbols(Modifiers modifiers) {
    return tindlewave::modifierSymbols(modifiers);
}

std::string chord(const Chord& chord) {
    std::string key;
    if (const auto name = chord.key.name()) {
        const auto symbol = keySymbols().find(*name);
        key = symbol != keySymbols().end() ? std::string(symbol->second) : uppercased(*name);
    }
    return shortcutText(chord.modifiers, key);
}

Modifiers modifiers(std::uint64_t flags) {
    return modifiersOfFlags(flags);
}

}  // namespace tindlewave::Labels
