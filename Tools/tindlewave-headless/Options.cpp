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
        if (argument == "--help" || argument == "-h") {
            options.help = true;
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
    return options;
}

const char* usageText() {
    return R"(usage: tindlewave-headless [--config PATH] [--mouse FILE] [--no-keyboard] [--script FILE]
Runs Tindlewave without a window over simulated devices: a recorded HID++ mouse and a built-in
keyboard. Commands come from --script FILE, then from standard input ("help" lists them).
  --config PATH   the settings file (default: ~/.config/tindlewave/config.json)
  --mouse FILE    the recorded mouse to attach at start (default: the shipped MX Master 3)
  --no-keyboard   attach no built-in keyboard at start
  --script FILE   run these commands first)";
}

}  // namespace tindlewave::headless
