#include "Options.h"

namespace tindlewave::headless {

std::variant<Options, std::string> readOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= argc) return std::nullopt;
            return std::string(argv[++i]);
        };
        if (argument == "--simulate") {
            options.simulate = true;
        } else if (argument == "--help" || argument == "-h") {
            options.help = true;
        } else if (argument == "--check-devices") {
            options.checkDevices = true;
        } else if (argument == "--no-keyboard") {
            options.keyboard = false;
        } else if (argument == "--config" || argument == "--mouse" || argument == "--script") {
            auto given = value();
            if (!given || given->empty()) return argument + " needs a path";
            if (argument == "--config") options.config = *given;
            if (argument == "--mouse") options.mouse = *given;
            if (argument == "--script") options.script = *given;
        } else {
            return "unknown argument \"" + argument + "\"";
        }
    }
    if (!options.simulate && options.mouse) return std::string("--mouse needs --simulate");
    if (!options.simulate && !options.keyboard) return std::string("--no-keyboard needs --simulate");
    return options;
}

const char* usageText() {
    return R"(usage: tindlewave-headless [--simulate [--mouse FILE] [--no-keyboard]] [--config PATH] [--script FILE]
       tindlewave-headless --check-devices
Runs Tindlewave without a window over this computer's mice and keyboards, or with --simulate over
simulated devices: a recorded HID++ mouse and a built-in keyboard. Commands come from
--script FILE, then from standard input ("help" lists them).
  --simulate      simulated devices instead of the real ones
  --mouse FILE    (with --simulate) the recorded mouse to attach at start, a path or the
                  name of a shipped recording (default: the shipped MX Master 3)
  --no-keyboard   (with --simulate) attach no built-in keyboard at start
  --config PATH   the settings file (default: $XDG_CONFIG_HOME/tindlewave/config.json,
                  or ~/.config/tindlewave/config.json without XDG_CONFIG_HOME)
  --script FILE   run these commands first
  --check-devices list this machine's mice and keyboards (hidraw and event nodes, access, HID++
                  with a read-only ping) and end: 0 when every HID++ mouse answered)";
}

}  // namespace tindlewave::headless
