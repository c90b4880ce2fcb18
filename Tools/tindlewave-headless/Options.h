#pragma once

#include <optional>
#include <string>
#include <variant>

namespace tindlewave::headless {

// The command line: tindlewave-headless [--simulate [--mouse FILE] [--no-keyboard]]
// [--config PATH] [--script FILE] [--check-devices] [--help].
struct Options {
    bool simulate = false;              // simulated devices instead of this machine's
    std::optional<std::string> config;  // none: the user's own settings file
    std::optional<std::string> mouse;   // none: the shipped MX Master 3 recording
    bool keyboard = true;               // a built-in keyboard is attached at start
    std::optional<std::string> script;  // commands read before standard input
    std::string scriptText;             // the script's content, read at start
    bool help = false;
    bool checkDevices = false;  // list this machine's devices and what the program can do with them
};

// The options, or what is wrong with the command line.
std::variant<Options, std::string> readOptions(int argc, char** argv);

const char* usageText();

}  // namespace tindlewave::headless
