#pragma once

#include <optional>
#include <string>
#include <variant>

namespace tindlewave {

// The window program's command line: tindlewave [--simulate [--no-mouse] [--no-keyboard]]
// [-snapshotSettings FOLDER] [--check-devices] [--check-arguments] [--help], and the toolkit's
// own options (-platform NAME, -display NAME, -session ID, -style NAME or -style=NAME and the
// like), which the toolkit reads.
struct ProgramOptions {
    bool simulate = false;
    bool mouse = true;     // with --simulate: the recorded mouse that ships with the program
    bool keyboard = true;  // with --simulate: a built-in keyboard
    bool checkDevices = false;
    bool checkArguments = false;  // only the arguments are checked (before a display is started for them)
    bool help = false;
};

// The options, or what is wrong with the command line.
std::variant<ProgramOptions, std::string> readProgramOptions(int argc, char** argv);

const char* programUsageText();

}  // namespace tindlewave
