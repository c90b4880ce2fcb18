#include "Shell/ProgramOptions.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace tindlewave {

namespace {
// The toolkit's own options that the program passes on: those followed by a value, and those alone.
constexpr std::array<std::string_view, 10> toolkitWithValue{
    "-platform", "-platformpluginpath", "-platformtheme", "-plugin", "-display",
    "-style",    "-stylesheet",         "-session",       "-qwindowgeometry", "-qwindowtitle"};
constexpr std::array<std::string_view, 2> toolkitAlone{"-reverse", "-nograb"};
// Those the toolkit also takes as one argument, NAME=VALUE.
constexpr std::array<std::string_view, 2> toolkitJoined{"-style", "-stylesheet"};

bool among(auto& names, std::string_view argument) {
    return std::find(names.begin(), names.end(), argument) != names.end();
}
}  // namespace

std::variant<ProgramOptions, std::string> readProgramOptions(int argc, char** argv) {
    ProgramOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        // The toolkit takes its options with one dash or two.
        const std::string_view toolkit =
            std::string_view(argument).starts_with("--") ? std::string_view(argument).substr(1) : argument;
        if (argument == "--simulate") {
            options.simulate = true;
        } else if (argument == "--no-mouse") {
            options.mouse = false;
        } else if (argument == "--no-keyboard") {
            options.keyboard = false;
        } else if (argument == "--check-devices") {
            options.checkDevices = true;
        } else if (argument == "--check-arguments") {
            options.checkArguments = true;
        } else if (argument == "--help" || argument == "-h") {
            options.help = true;
        } else if (argument == "-snapshotSettings" || among(toolkitWithValue, toolkit)) {
            if (i + 1 >= argc || argv[i + 1][0] == '\0') return argument + " needs a value";
            ++i;
        } else if (const auto equals = toolkit.find('=');
                   equals != std::string_view::npos && among(toolkitWithValue, toolkit.substr(0, equals))) {
            // The toolkit reads only a few of its options as NAME=VALUE and ignores the others.
            const std::string name = argument.substr(0, argument.find('='));
            if (!among(toolkitJoined, toolkit.substr(0, equals)))
                return "\"" + argument + "\": " + name + " takes its value as the next argument";
            if (equals + 1 == toolkit.size()) return name + " needs a value";
        } else if (!among(toolkitAlone, toolkit)) {
            return "unknown argument \"" + argument + "\"";
        }
    }
    for (const auto& [given, name] : {std::pair{!options.mouse, "--no-mouse"}, std::pair{!options.keyboard, "--no-keyboard"}})
        if (given && !options.simulate) return std::string(name) + " needs --simulate";
    return options;
}

const char* programUsageText() {
    return R"(usage: tindlewave [--simulate [--no-mouse] [--no-keyboard]] [-snapshotSettings FOLDER]
       tindlewave --check-devices
       tindlewave --check-arguments ARGUMENTS...
Runs Tindlewave, its menu in the tray (or on its window's tool bar without one), over this
computer's mice and keyboards, or with --simulate over simulated devices: the recorded MX Master 3
and a built-in keyboard. One program runs over this computer's devices at a time.
  --simulate      simulated devices instead of the real ones
  --no-mouse      (with --simulate) attach no recorded mouse at start
  --no-keyboard   (with --simulate) attach no built-in keyboard at start
  -snapshotSettings FOLDER
                  take pictures of every settings page into FOLDER (PNG files)
  --check-devices list this machine's mice and keyboards (hidraw and event nodes, access, HID++
                  with a read-only ping) and end: 0 when every HID++ mouse answered
  --check-arguments
                  check the other arguments and end, starting nothing: 0 when the program
                  takes them, 2 (saying what is wrong) when not
The toolkit's own options (-platform NAME, -display NAME, -style NAME or -style=NAME, ...) are
passed on to it.)";
}

}  // namespace tindlewave
