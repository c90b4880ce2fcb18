#include "Command.h"

#include <charconv>
#include <limits>
#include <sstream>
#include <vector>

namespace tindlewave::headless {

namespace {

template <class T>
std::optional<T> integer(const std::string& text) {
    T value{};
    int base = 10;
    std::string_view digits = text;
    bool negative = false;
    if (!digits.empty() && digits.front() == '-') {
        negative = true;
        digits.remove_prefix(1);
    }
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits.remove_prefix(2);
    }
    if (digits.empty()) return std::nullopt;
    std::int64_t wide = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), wide, base);
    if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
    if (negative) wide = -wide;
    if (!(std::int64_t(std::numeric_limits<T>::min()) <= wide &&
          wide <= std::int64_t(std::numeric_limits<T>::max()))) {
        return std::nullopt;
    }
    value = static_cast<T>(wide);
    return value;
}

std::optional<double> number(const std::string& text) {
    double value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !(value == value)) {
        return std::nullopt;
    }
    return value;
}

// "builtin" or "VID:PID" (hexadecimal, with or without 0x).
std::optional<DeviceMatch> deviceMatch(const std::string& text) {
    if (text == "builtin") return DeviceMatch::builtIn();
    auto colon = text.find(':');
    if (colon == std::string::npos) return std::nullopt;
    auto hex = [](std::string part) -> std::optional<std::uint16_t> {
        if (part.rfind("0x", 0) != 0 && part.rfind("0X", 0) != 0) part = "0x" + part;
        return integer<std::uint16_t>(part);
    };
    auto vendor = hex(text.substr(0, colon));
    auto product = hex(text.substr(colon + 1));
    if (!vendor || !product) return std::nullopt;
    return DeviceMatch::device(VendorID{*vendor}, ProductID{*product});
}

std::optional<bool> upOrDown(const std::string& text) {
    if (text == "down") return true;
    if (text == "up") return false;
    return std::nullopt;
}

}  // namespace

ParsedLine parseCommand(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string word; in >> word;) words.push_back(word);
    if (words.empty() || words[0].front() == '#') return {};
    const std::string& verb = words[0];
    const std::size_t count = words.size() - 1;
    auto arg = [&](std::size_t i) -> const std::string& { return words.at(i + 1); };
    auto fail = [&](const std::string& usage) {
        return ParsedLine{std::nullopt, "cannot read \"" + line + "\": use " + usage};
    };
    auto ok = [](auto command) { return ParsedLine{Command{std::move(command)}, std::nullopt}; };

    if (verb == "help" && count == 0) return ok(Command::Help{});
    if (verb == "devices" && count == 0) return ok(Command::Devices{});
    if (verb == "attach") {
        if (count == 2 && arg(0) == "mouse") return ok(Command::AttachMouse{arg(1)});
        if (count >= 1 && arg(0) == "keyboard" && count <= 2) {
            if (count == 1 || arg(1) == "builtin") return ok(Command::AttachKeyboard{});
            if (auto match = deviceMatch(arg(1)); match && !is<DeviceMatch::BuiltIn>(*match)) {
                return ok(Command::AttachKeyboard{match});
            }
        }
        return fail("attach mouse FILE, or attach keyboard [builtin|VID:PID]");
    }
    auto oneDevice = [&](auto make, const char* usage) {
        if (count == 1) {
            if (auto device = integer<int>(arg(0)); device && *device > 0) return ok(make(*device));
        }
        return fail(usage);
    };
    if (verb == "detach") return oneDevice([](int d) { return Command::Detach{d}; }, "detach D");
    if (verb == "reconnect") {
        return oneDevice([](int d) { return Command::Reconnect{d}; }, "reconnect D");
    }
    if (verb == "mouse") return oneDevice([](int d) { return Command::Mouse{d}; }, "mouse D");
    if (verb == "press" || verb == "release") {
        auto cid = count == 1 ? integer<std::uint16_t>(arg(0)) : std::nullopt;
        if (!cid) return fail(verb + " CID (for example 0xC3 or 195)");
        if (verb == "press") return ok(Command::Press{*cid});
        return ok(Command::Release{*cid});
    }
    if (verb == "move") {
        auto dx = count == 2 ? integer<std::int16_t>(arg(0)) : std::nullopt;
        auto dy = count == 2 ? integer<std::int16_t>(arg(1)) : std::nullopt;
        if (!dx || !dy) return fail("move DX DY (raw counts, -32768 to 32767)");
        return ok(Command::Move{*dx, *dy});
    }
    if (verb == "thumb") {
        auto rotation = count == 1 ? integer<std::int16_t>(arg(0)) : std::nullopt;
        if (!rotation) return fail("thumb N");
        return ok(Command::Thumb{*rotation});
    }
    if (verb == "button") {
        auto n = count == 2 ? integer<int>(arg(0)) : std::nullopt;
        auto down = count == 2 ? upOrDown(arg(1)) : std::nullopt;
        if (!n || *n < 0 || *n > 31 || !down) return fail("button N down|up (N from 0 to 31)");
        return ok(Command::Button{*n, *down});
    }
    if (verb == "drag") {
        auto dx = count == 2 ? number(arg(0)) : std::nullopt;
        auto dy = count == 2 ? number(arg(1)) : std::nullopt;
        // Beyond any screen, and far inside what the event's integer fields hold.
        constexpr double reach = 100000;
        if (!dx || !dy || !(-reach <= *dx && *dx <= reach) || !(-reach <= *dy && *dy <= reach)) {
            return fail("drag DX DY (points, -100000 to 100000)");
        }
        return ok(Command::Drag{*dx, *dy});
    }
    if (verb == "wheel") {
        auto lines = count == 1 ? integer<std::int32_t>(arg(0)) : std::nullopt;
        if (!lines || !(-1000 <= *lines && *lines <= 1000)) {
            return fail("wheel N (lines from -1000 to 1000, negative: down)");
        }
        return ok(Command::Wheel{*lines});
    }
    if (verb == "key") {
        auto down = count == 2 ? upOrDown(arg(1)) : std::nullopt;
        if (!down) return fail("key NAME down|up");
        return ok(Command::Key{arg(0), *down});
    }
    if (verb == "pause" && count == 0) return ok(Command::Pause{});
    if (verb == "resume" && count == 0) return ok(Command::Resume{});
    if (verb == "reapply" && count == 0) return ok(Command::Reapply{});
    if (verb == "listen") {
        auto match = count == 1 ? deviceMatch(arg(0)) : std::nullopt;
        if (!match) return fail("listen builtin|VID:PID");
        return ok(Command::Listen{*match});
    }
    if (verb == "stop-listening" && count == 0) return ok(Command::StopListening{});
    if (verb == "wake" && count == 0) return ok(Command::Wake{});
    if (verb == "grant" || verb == "revoke") {
        const bool granted = verb == "grant";
        if (count == 1 && arg(0) == "accessibility") return ok(Command::Grant{true, granted});
        if (count == 1 && arg(0) == "input-monitoring") return ok(Command::Grant{false, granted});
        return fail(verb + " accessibility|input-monitoring");
    }
    if (verb == "status" && count == 0) return ok(Command::Status{});
    if (verb == "wait") {
        if (count >= 1 && count <= 2 && arg(0) == "applied") {
            auto seconds = count == 2 ? number(arg(1)) : std::optional<double>(10.0);
            if (seconds && *seconds >= 0 && *seconds <= 3600) {
                return ok(Command::WaitApplied{*seconds});
            }
        }
        return fail("wait applied [SECONDS] (at most 3600)");
    }
    if (verb == "fault") {
        using Kind = Command::MouseFault::Kind;
        static const std::pair<const char*, Kind> kinds[] = {
            {"drop", Kind::drop},     {"delay", Kind::delay},     {"cross", Kind::cross},
            {"refuse", Kind::refuse}, {"corrupt", Kind::corrupt}, {"clear", Kind::clear}};
        auto times = count == 2 ? integer<int>(arg(1)) : std::optional<int>(1);
        for (const auto& [name, kind] : kinds) {
            if (count < 1 || arg(0) != name || !times || !(1 <= *times && *times <= 1000)) continue;
            if (kind == Kind::clear && count != 1) continue;
            return ok(Command::MouseFault{kind, *times});
        }
        return fail("fault drop|delay|cross|refuse|corrupt [N] (N from 1 to 1000), or fault clear");
    }
    if (verb == "hidutil") {
        using Kind = Command::HidutilFault::Kind;
        if (count == 1 && arg(0) == "lag") return ok(Command::HidutilFault{Kind::lag});
        if (count == 1 && arg(0) == "fail") return ok(Command::HidutilFault{Kind::fail});
        if (count == 1 && arg(0) == "clear") return ok(Command::HidutilFault{Kind::clear});
        return fail("hidutil lag|fail|clear");
    }
    if (verb == "quit" && count == 0) return ok(Command::Quit{});
    return ParsedLine{std::nullopt, "unknown command \"" + line + "\"; \"help\" lists the commands"};
}

const char* commandHelp() {
    return R"(Commands (devices are named by the number shown when they were attached):
  help                          this list
  devices                       the attached devices
  attach mouse FILE             a recorded HID++ mouse (see share/tindlewave/devices)
  attach keyboard [builtin|VID:PID]
  detach D                      unplug device D
  press CID | release CID       a control of the last attached HID++ mouse (0xC3 or 195)
  move DX DY                    that mouse's raw movement (seen while a control diverted with it is down)
  thumb N                       turn its thumb wheel
  reconnect D                   device D loses its settings and reconnects
  button N down|up              mouse button N (0 left, 1 right, 2 middle, ...) through the event tap
  drag DX DY                    move the pointer with the held buttons (points)
  wheel N                       N wheel lines (negative: down); a smooth scroll's frames are one line
  key NAME down|up              a key of the last attached keyboard, sent as its key map has it
                                (for example a, capslock, f13, leftShift)
  pause | resume                stop or restart everything the program does
  reapply                       set every device up again
  listen builtin|VID:PID        listen for one press on that device
  stop-listening
  wake                          act as if the computer woke from sleep
  grant|revoke accessibility|input-monitoring
  status                        the engine's latest status
  mouse D                       what HID++ mouse D reports to the program (its diverted controls)
  wait applied [SECONDS]        wait until the settings file as it is now is in force and every
                                connected device with a profile is set up, the tap as wanted (10 s);
                                a settings file with an error is answered with the error
  fault drop|delay|cross|refuse|corrupt [N]
                                the last HID++ mouse's next N replies are lost, 2.5 s late, sent
                                twice or refused (its set-reporting), or N read-backs show the
                                opposite divert bit
  fault clear                   that mouse's faults off
  hidutil lag|fail|clear        the stand-in hidutil: keyboard services ignore what is set, every
                                run fails, or both off
  quit                          quit as the program does: devices back to native, keys released
Lines starting with # are ignored. The end of the input quits too. Each command's effects are
handled before the next command runs.)";
}

}  // namespace tindlewave::headless
