#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "Model/Config.h"

namespace tindlewave::headless {

// One line of the headless program's input, read. Devices are named by the number the program
// gave them when they were attached.
struct Command {
    struct Help {};
    struct Devices {};
    struct AttachMouse { std::string file; };
    struct AttachKeyboard { std::optional<DeviceMatch> external; };  // none: the built-in one
    struct Detach { int device; };
    struct Press { std::uint16_t cid; };
    struct Release { std::uint16_t cid; };
    struct Move { std::int16_t dx, dy; };
    struct Thumb { std::int16_t rotation; };
    struct Reconnect { int device; };
    struct Button { int number; bool down; };
    struct Drag { double dx, dy; };
    struct Wheel { std::int32_t lines; };
    struct Key { std::string name; bool down; };
    struct Pause {};
    struct Resume {};
    struct Reapply {};
    struct Listen { DeviceMatch match; };
    struct StopListening {};
    struct Wake {};
    struct Grant { bool accessibility; bool granted; };
    struct Status {};
    struct Mouse { int device; };
    struct WaitApplied { double seconds; };
    // The last HID++ mouse's fault switches: its next `times` replies (or read-backs) go wrong.
    struct MouseFault {
        enum class Kind { drop, delay, cross, refuse, corrupt, clear };
        Kind kind;
        int times = 1;
    };
    // The stand-in hidutil's switches: every keyboard service ignores what is set, or every run
    // fails; `clear` turns both off.
    struct HidutilFault {
        enum class Kind { lag, fail, clear };
        Kind kind;
    };
    struct Quit {};

    std::variant<Help, Devices, AttachMouse, AttachKeyboard, Detach, Press, Release, Move, Thumb,
                 Reconnect, Button, Drag, Wheel, Key, Pause, Resume, Reapply, Listen,
                 StopListening, Wake, Grant, Status, Mouse, WaitApplied, MouseFault, HidutilFault,
                 Quit>
        value;
};

// A line read: a command, nothing (blank or a comment starting with #), or what is wrong with it.
struct ParsedLine {
    std::optional<Command> command;
    std::optional<std::string> error;
};
ParsedLine parseCommand(const std::string& line);

// The text of `help`.
const char* commandHelp();

}  // namespace tindlewave::headless
