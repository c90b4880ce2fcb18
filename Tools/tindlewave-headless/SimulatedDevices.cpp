// The simulated world's devices: attached and numbered for the commands, acted on, and what each
// was left with at the quit.

#include "Program.h"

#include <cctype>
#include <filesystem>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "Core/HIDPP/Feature.h"
#include "Core/Keys/KeyRoutes.h"
#include "Model/HexCoding.h"
#include "Model/Keys.h"
#include "Platform/Simulated/HID/VirtualHidppMouse.h"

namespace tindlewave::headless {

namespace {

constexpr std::uint16_t leftControlUsage = 0xE0;  // the first side modifier key's usage

// The usage of a keyboard key by name: a key of the key table, F13 to F20, or a side modifier
// ("leftShift"); names match without regard to case.
std::optional<HIDUsage> keyUsageNamed(const std::string& name) {
    if (auto usage = HIDUsage::named(name)) return usage;
    std::string lower = name;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const auto& carriers = Carrier::all();
    for (std::size_t i = 0; i < carriers.size(); ++i)
        if (lower == fmt::format("f{}", 13 + i)) return carriers[i].usage;
    for (HeldModifier modifier : allCases<HeldModifier>()) {
        std::string text(toText(modifier));
        for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (lower == text)
            return HIDUsage{static_cast<std::uint16_t>(leftControlUsage + static_cast<int>(modifier))};
    }
    return std::nullopt;
}

// The event a keyboard's usage makes, going down or up with the modifier state `flags`: a key
// down or up with the key's code, or for a side modifier the flags changed by it. None for a
// usage no key code stands for.
std::optional<Event> keyboardEvent(HIDUsage usage, bool down, std::uint64_t flags) {
    Event event;
    event.flags = flags;
    std::optional<std::uint16_t> code;
    if (auto key = KeyTable::byUsage().find(usage); key != KeyTable::byUsage().end()) {
        code = key->second.keyCode.rawValue;
    }
    for (const Carrier& carrier : Carrier::all())
        if (carrier.usage == usage) code = carrier.keyCode.rawValue;
    if (code) {
        event.type = down ? EventType::keyDown : EventType::keyUp;
        event.setInteger(IntegerField::keyCode, *code);
        return event;
    }
    if (usage.rawValue < leftControlUsage || usage.rawValue >= leftControlUsage + 8) return std::nullopt;
    const auto modifier = static_cast<HeldModifier>(usage.rawValue - leftControlUsage);
    event.type = EventType::flagsChanged;
    event.setInteger(IntegerField::keyCode, virtualKeyCode(modifier));
    event.flags = down ? flags | deviceFlag(modifier) | quartzFlags(generic(modifier))
                       : withoutModifiers(flags & ~deviceFlag(modifier), generic(modifier));
    return event;
}

}  // namespace

std::string recordingPath(const std::string& given, const std::string& recordings) {
    // A bare name that is not a file here is a recording shipped beside the program, with or
    // without its ".json".
    std::error_code error;
    if (given.empty() || given.find('/') != std::string::npos || std::filesystem::exists(given, error) ||
        recordings.empty()) {
        return given;
    }
    for (const std::string& name : {given, given + ".json"}) {
        const auto shipped = std::filesystem::path(recordings) / name;
        if (std::filesystem::is_regular_file(shipped, error)) return shipped.string();
    }
    return given;
}

void Program::attachMouse(const std::string& given) {
    const std::string file = recordingPath(given, places_.recordings);
    auto attached = simulated_->attachMouse(file);
    if (!attached) {
        printer_.line("cannot attach the mouse: " + attached.error());
        return;
    }
    Device device{*attached, nextDevice_++};
    printer_.line(fmt::format("device {}: {} (HID++ mouse {}:{}{})", device.number, device.name,
                              hexText(device.vendor, 4), hexText(device.product, 4),
                              device.receiverSlot ? fmt::format(" at receiver slot {}", *device.receiverSlot)
                                                  : std::string()));
    devices_.emplace(device.number, std::move(device));
}

void Program::attachKeyboard(const std::optional<DeviceMatch>& external) {
    Device device;
    if (external) {
        const auto& ids = *as<DeviceMatch::Device>(*external);
        device = {simulated_->attachExternalKeyboard(ids.vendor.rawValue, ids.product.rawValue), 0};
    } else {
        device = {simulated_->attachBuiltInKeyboard(), 0};
    }
    device.number = nextDevice_++;
    printer_.line(fmt::format("device {}: {} ({} keyboard {}:{})", device.number, device.name,
                              device.builtIn ? "built-in" : "external", hexText(device.vendor, 4),
                              hexText(device.product, 4)));
    devices_.emplace(device.number, std::move(device));
}

void Program::listSimulatedDevices() {
    if (devices_.empty()) printer_.line("no devices attached");
    for (const auto& [number, d] : devices_) {
        printer_.line(fmt::format("device {}: {} ({}, {}:{})", number, d.name,
                                  d.isKeyboard ? "keyboard" : "HID++ mouse", hexText(d.vendor, 4),
                                  hexText(d.product, 4)));
    }
}

const Program::Device* Program::device(int number) {
    auto found = devices_.find(number);
    if (found == devices_.end()) {
        printer_.line(fmt::format("no device {}; \"devices\" lists them", number));
        return nullptr;
    }
    return &found->second;
}

const Program::Device* Program::lastMouse(bool hidppOnly) {
    for (auto it = devices_.rbegin(); it != devices_.rend(); ++it) {
        if (!it->second.isKeyboard && (it->second.isHidppMouse || !hidppOnly)) return &it->second;
    }
    printer_.line(hidppOnly ? "no HID++ mouse is attached" : "no mouse is attached");
    return nullptr;
}

void Program::inject(Event event, bool fromKeyboard, double detents) {
    const Device* source = nullptr;
    for (auto it = devices_.rbegin(); it != devices_.rend() && !source; ++it) {
        if (it->second.isKeyboard == fromKeyboard) source = &it->second;
    }
    if (!source) {
        printer_.line(fromKeyboard ? "no keyboard is attached" : "no mouse is attached");
        return;
    }
    event.location = simulated_->events.cursorLocation();
    simulated_->events.inject(event, HIDOrigin{SenderID{source->attached.services.at(0).at(0)}, detents});
}

void Program::reportSimulatedDevicesAtExit() {
    std::vector<Device> devices;
    for (const auto& [number, d] : devices_) devices.push_back(d);
    hid_.post([this, devices] {
        std::vector<std::string> lines;
        for (const auto& d : devices) {
            std::string text = fmt::format("at exit, device {} ({}): ", d.number, d.name);
            if (d.isHidppMouse) {
                std::string list;
                for (const auto& item : simulated_->leftOver(d)) list += (list.empty() ? "" : ", ") + item;
                text += list.empty() ? "native" : "still diverted: " + list;
            } else {
                const std::size_t mapped = simulated_->keyMappingsLeft(d);
                text += mapped == 0 ? "key map empty" : fmt::format("{} key mappings left", mapped);
            }
            lines.push_back(text);
        }
        tap_.post([this, lines = std::move(lines)]() mutable {
            lines.push_back(fmt::format("at exit, event system: {} taps", simulated_->events.tapCount()));
            main_.post([this, lines = std::move(lines)] { report(lines); });
        });
    });
}

// --- Commands on the simulated devices ---

void Program::perform(const Command::AttachMouse& attach) { attachMouse(attach.file); }

void Program::perform(const Command::AttachKeyboard& attach) { attachKeyboard(attach.external); }

void Program::perform(const Command::Detach& detach) {
    if (const Device* d = device(detach.device)) {
        simulated_->detach(*d);
        printer_.line(fmt::format("device {} detached", detach.device));
        devices_.erase(detach.device);
    }
}

void Program::perform(const Command::Press& press) {
    if (const Device* d = lastMouse(true)) {
        simulated_->hid.act(d->attached.interfaces.at(0), [cid = press.cid](VirtualHidppMouse& m,
                                                                            Instant now) {
            m.press(cid, now);
        });
    }
}

void Program::perform(const Command::Release& release) {
    if (const Device* d = lastMouse(true)) {
        simulated_->hid.act(d->attached.interfaces.at(0), [cid = release.cid](VirtualHidppMouse& m,
                                                                              Instant now) {
            m.release(cid, now);
        });
    }
}

void Program::perform(const Command::Move& move) {
    if (const Device* d = lastMouse(true)) {
        simulated_->hid.act(d->attached.interfaces.at(0), [move](VirtualHidppMouse& m, Instant now) {
            m.move(move.dx, move.dy, now);
        });
    }
}

void Program::perform(const Command::Thumb& thumb) {
    if (const Device* d = lastMouse(true)) {
        simulated_->hid.act(d->attached.interfaces.at(0), [thumb](VirtualHidppMouse& m, Instant now) {
            m.turnThumbWheel(thumb.rotation, now);
        });
    }
}

void Program::perform(const Command::Reconnect& reconnect) {
    const Device* d = device(reconnect.device);
    if (!d) return;
    if (!d->isHidppMouse) {
        printer_.line(fmt::format("device {} is no HID++ mouse", reconnect.device));
        return;
    }
    simulated_->hid.act(d->attached.interfaces.at(0),
                        [](VirtualHidppMouse& m, Instant now) { m.reconnect(now); });
}

void Program::perform(const Command::Button& button) {
    Event event;
    const bool left = button.number == 0, right = button.number == 1;
    event.type = button.down ? (left    ? EventType::leftMouseDown
                                : right ? EventType::rightMouseDown
                                        : EventType::otherMouseDown)
                             : (left    ? EventType::leftMouseUp
                                : right ? EventType::rightMouseUp
                                        : EventType::otherMouseUp);
    event.setInteger(IntegerField::buttonNumber, button.number);
    if (button.down) {
        buttonsDown_.insert(button.number);
    } else {
        buttonsDown_.erase(button.number);
    }
    inject(event, false);
}

void Program::perform(const Command::Drag& drag) {
    Event event;
    event.type = EventType::mouseMoved;
    if (!buttonsDown_.empty()) {
        const int held = *buttonsDown_.begin();
        event.type = held == 0   ? EventType::leftMouseDragged
                     : held == 1 ? EventType::rightMouseDragged
                                 : EventType::otherMouseDragged;
        event.setInteger(IntegerField::buttonNumber, held);
    }
    event.setInteger(IntegerField::deltaX, static_cast<std::int64_t>(drag.dx));
    event.setInteger(IntegerField::deltaY, static_cast<std::int64_t>(drag.dy));
    inject(event, false);
}

void Program::perform(const Command::Wheel& wheel) {
    Event event;
    event.type = EventType::scrollWheel;
    event.setInteger(IntegerField::scrollDelta1, wheel.lines);
    event.setFixedPoint(FixedPointField::scrollFixedDelta1, wheel.lines);
    inject(event, false, wheel.lines);
}

void Program::perform(const Command::Key& key) {
    const auto usage = keyUsageNamed(key.name);
    if (!usage) {
        printer_.line("no key named \"" + key.name + "\"");
        return;
    }
    const Device* keyboard = nullptr;
    for (auto it = devices_.rbegin(); it != devices_.rend() && !keyboard; ++it) {
        if (it->second.isKeyboard) keyboard = &it->second;
    }
    if (!keyboard) {
        printer_.line("no keyboard is attached");
        return;
    }
    // As the keyboard's own key: what its key map sends instead, then through the tap; what
    // applications receive is printed (the hyper key's modifiers, say).
    const HIDUsage sent = simulated_->keySent(*keyboard, *usage);
    auto event = keyboardEvent(sent, key.down, simulated_->events.flagsState());
    if (!event) {
        printer_.line(fmt::format("the keyboard sends usage {} for \"{}\", which no key code stands for",
                                  hexText(sent.rawValue, 2), key.name));
        return;
    }
    event->location = simulated_->events.cursorLocation();
    const HIDOrigin origin{SenderID{keyboard->attached.services.at(0).at(0)}, 0};
    tap_.post([this, event = *event, origin] {
        printer_.line(receivedLine(simulated_->events.dispatch(event, origin)));
    });
}

void Program::perform(const Command::Grant& grant) {
    const auto state = grant.granted ? PermissionState::Grant::granted : PermissionState::Grant::denied;
    grant.accessibility ? simulated_->grants.setAccessibility(state)
                        : simulated_->grants.setInputMonitoring(state);
    printer_.line(fmt::format("{} {} (seen at the next poll, within a second)",
                              grant.accessibility ? "accessibility" : "input monitoring",
                              grant.granted ? "granted" : "revoked"));
}

void Program::perform(const Command::Mouse& mouse) {
    const Device* d = device(mouse.device);
    if (!d) return;
    if (!d->isHidppMouse) {
        printer_.line(fmt::format("device {} is no HID++ mouse", mouse.device));
        return;
    }
    hid_.post([this, number = mouse.device, id = d->attached.interfaces.at(0)] {
        const VirtualHidppMouse* virtualMouse = simulated_->hid.mouse(id);
        printer_.line(virtualMouse ? mouseLine(number, *virtualMouse)
                                   : fmt::format("mouse {}: not attached", number));
    });
}

void Program::perform(const Command::MouseFault& fault) {
    using Kind = Command::MouseFault::Kind;
    const Device* d = lastMouse(true);
    if (!d) return;
    simulated_->hid.act(d->attached.interfaces.at(0), [fault](VirtualHidppMouse& mouse, Instant) {
        auto& faults = mouse.faults;
        switch (fault.kind) {
            case Kind::drop:
                faults.dropReplies = fault.times;
                break;
            case Kind::delay:
                faults.delayReplies = fault.times;
                break;
            case Kind::cross:
                faults.crossReplies = fault.times;
                break;
            case Kind::refuse:
                // The set-reporting requests of the reprogrammable controls, answered "busy".
                faults.errors.push_back({static_cast<std::uint16_t>(HIDPPFeature::reprogControls),
                                         3, std::nullopt, 0x08, fault.times});
                break;
            case Kind::corrupt:
                faults.corruptReadBacks = fault.times;
                break;
            case Kind::clear:
                faults = VirtualMouseFaults{};
                break;
        }
    });
    printer_.line(mouseFaultLine(d->number, fault));
}

void Program::perform(const Command::HidutilFault& fault) {
    using Kind = Command::HidutilFault::Kind;
    simulated_->hidutilState.change([fault](nlohmann::json& state) {
        state["exitStatus"] = fault.kind == Kind::fail ? 1 : 0;
        for (auto& service : state["services"]) service["lags"] = fault.kind == Kind::lag;
    });
    printer_.line(fault.kind == Kind::lag    ? "hidutil: keyboard services ignore what is set"
                  : fault.kind == Kind::fail ? "hidutil: every run fails"
                                             : "hidutil: works again");
}

}  // namespace tindlewave::headless
