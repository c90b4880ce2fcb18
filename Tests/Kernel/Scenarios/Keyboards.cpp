#include "Kernel/Scenarios/Keyboards.h"

#include <map>

namespace tindlewave::kernel {
namespace {

struct KeyNames {
    std::uint8_t usage;
    const char* qcode;
};

const std::map<std::string, KeyNames>& keyNames() {
    static const std::map<std::string, KeyNames> names{
        {"caps", {0x39, "caps_lock"}}, {"a", {0x04, "a"}}, {"b", {0x05, "b"}},
        {"leftctrl", {0xE0, "ctrl"}},
    };
    return names;
}

bool anyDown(const std::set<int>& down, std::initializer_list<int> codes) {
    for (int code : codes)
        if (down.count(code)) return true;
    return false;
}

}  // namespace

bool Keyboard::press(const std::string& key) {
    const auto& names = keyNames().at(key);
    return usb ? usb->press(names.usage) : hostKeys({std::string("down ") + names.qcode});
}

bool Keyboard::release(const std::string& key) {
    const auto& names = keyNames().at(key);
    return usb ? usb->release(names.usage) : hostKeys({std::string("up ") + names.qcode});
}

Keyboard usbKeyboard() {
    Keyboard keyboard;
    std::string error;
    keyboard.usb = testkit::uhid::UsbKeyboard::create("Test USB Keyboard", 0x046A, 0x0011, error);
    if (!keyboard.usb) return keyboard;
    keyboard.name = "Test USB Keyboard";
    keyboard.node = waitForNode([] { return eventNode("Test USB Keyboard"); });
    keyboard.capsScan = 0x70039;
    keyboard.match = R"("vendor": "0x046A", "product": "0x0011")";
    settleUdev();
    return keyboard;
}

Keyboard builtInKeyboard() {
    Keyboard keyboard;
    keyboard.name = "AT Translated Set 2 keyboard";
    keyboard.node = eventNode(keyboard.name);
    keyboard.capsScan = 0x3A;
    keyboard.match = R"("builtIn": true)";
    return keyboard;
}

std::string hyperConfig(const std::vector<const Keyboard*>& keyboards, bool hyper,
                        const std::string& extraRules) {
    std::string devices;
    for (const auto* keyboard : keyboards) {
        if (!devices.empty()) devices += ",\n";
        devices += R"(    { "match": { )" + keyboard->match + R"( }, "name": ")" + keyboard->name +
                   R"(", "kind": "keyboard", "hyper": )" + (hyper ? "true" : "false");
        if (!extraRules.empty() && keyboard == keyboards.front()) devices += R"(, "rules": [ )" + extraRules + " ]";
        devices += " }";
    }
    return std::string(R"({
  "version": 1,
  "hyper": { "enabled": )") + (hyper ? "true" : "false") + R"(, "key": "capsLock", "onTap": "nothing" },
  "devices": [
)" + devices + R"(
  ],
  "ignored": []
})";
}

std::string hyperAndTopButtonConfig(const Keyboard& keyboard) {
    std::string config = hyperConfig({&keyboard});
    const std::string devices = "\"devices\": [\n";
    config.insert(config.find(devices) + devices.size(),
                  R"(    { "match": { "vendor": "0x046D", "product": "0xB023" }, "name": "Test mouse", "kind": "mouse",
      "rules": [ { "control": { "hidpp": "0xC4" }, "when": "click", "do": { "shortcut": "shift+cmd+4" } } ] },
)");
    return config;
}

bool fourModifiersDown(const std::string& node) {
    const auto down = keysDown(node);
    return anyDown(down, {29, 97}) && anyDown(down, {56, 100}) && anyDown(down, {42, 54}) &&
           anyDown(down, {125, 126});
}

bool noModifierDown(const std::string& node) {
    const auto down = keysDown(node);
    return !anyDown(down, {29, 97, 56, 100, 42, 54, 125, 126});
}

}  // namespace tindlewave::kernel
