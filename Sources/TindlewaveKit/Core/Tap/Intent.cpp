#include "Core/Tap/Intent.h"

#include <algorithm>
#include <utility>

#include "Core/Devices/ConfigMatching.h"

namespace tindlewave {

namespace {

// The keyboard-page usage of the first side modifier (left Control); the others follow it in
// the order of HeldModifier.
constexpr std::uint16_t firstModifierUsage = 0xE0;

DeviceKind kindOf(const DeviceProfile& profile, const HIDProperties& properties) {
    return profile.kind ? *profile.kind : properties.kind();
}

const std::vector<Rule>& rulesOf(const DeviceProfile& profile) {
    static const std::vector<Rule> none;
    return profile.rules ? *profile.rules : none;
}

HIDUsage modifierUsage(HeldModifier modifier) {
    return HIDUsage{static_cast<std::uint16_t>(firstModifierUsage + static_cast<int>(modifier))};
}

// The route target of a key rule, or none when the rule cannot be routed.
std::optional<KeyTarget> keyRuleTarget(const Rule& rule,
                                       const std::unordered_map<Action, Carrier>& carriers) {
    if (is<Trigger::Click>(rule.trigger)) {
        auto carrier = carriers.find(rule.action);
        if (carrier == carriers.end()) return std::nullopt;
        return KeyTarget::carrier(carrier->second, CarrierMeaning::press(rule.action));
    }
    if (is<Trigger::Hold>(rule.trigger)) {
        if (const auto* modifier = as<Action::Modifier>(rule.action)) {
            return KeyTarget::native(modifierUsage(modifier->modifier));
        }
    }
    return std::nullopt;
}

}  // namespace

const DeviceSetup& DeviceSetup::neutral() {
    static const DeviceSetup setup{KeyMapSetup::neutral(), std::nullopt, false};
    return setup;
}

const Intent& Intent::neutral() {
    static const Intent intent{{}, TapRules::empty(), {}, std::nullopt};
    return intent;
}

std::unordered_map<Action, Carrier> Intent::clickCarriers(const Config& config) {
    std::unordered_map<Action, Carrier> assigned;
    const auto& pool = Carrier::forKeyRules();
    std::size_t cursor = 0;
    for (const auto& profile : config.devices) {
        for (const auto& rule : rulesOf(profile)) {
            if (!is<Control::Key>(rule.control) || !is<Trigger::Click>(rule.trigger)) continue;
            if (assigned.contains(rule.action) || cursor >= pool.size()) continue;
            assigned.emplace(rule.action, pool[cursor++]);
        }
    }
    return assigned;
}

std::map<std::int64_t, ControlBehavior> Intent::plainButtons(const DeviceProfile& profile) {
    std::map<std::int64_t, std::vector<Rule>> groups;
    for (const auto& rule : rulesOf(profile)) {
        if (const auto* button = as<Control::Button>(rule.control)) {
            groups[button->number].push_back(rule);
        }
    }
    std::map<std::int64_t, ControlBehavior> behaviors;
    for (const auto& [number, rules] : groups) {
        behaviors.emplace(number, ControlBehavior::fromRules(rules, profile, MovementUnit::points));
    }
    return behaviors;
}

Intent Intent::compile(const Config& config, bool paused, bool tapAvailable,
                       const std::vector<PresentDevice>& present,
                       const std::optional<ListenTarget>& listening) {
    if (paused) return neutral();

    const auto carriers = clickCarriers(config);
    Intent intent;
    std::map<SenderID, SmoothScroll> smoothScroll;
    std::map<ButtonKey, ControlBehavior> buttons;

    for (const auto& device : present) {
        const DeviceProfile* profile = profileFor(config, device.properties);
        if (profile == nullptr) continue;
        const auto& properties = device.properties;

        if (profile->scrolling && profile->scrolling->smooth) {
            for (SenderID sender : device.eventServices) {
                smoothScroll.insert_or_assign(sender, *profile->scrolling->smooth);
            }
        }

        for (const auto& [number, behavior] : plainButtons(*profile)) {
            for (SenderID sender : device.eventServices) {
                buttons.insert_or_assign(ButtonKey{sender, number}, behavior);
            }
        }

        const bool keyboardPair = properties.hasUsage(usages::keyboard);
        const bool keyboard = kindOf(*profile, properties) == DeviceKind::keyboard;
        std::vector<KeyRoute> routes;
        std::optional<HIDUsage> hyperSource;
        if (config.hyper.enabled && profile->hyper.value_or(false) && tapAvailable && keyboard &&
            keyboardPair) {
            hyperSource = config.hyper.key;
            routes.push_back(
                KeyRoute{config.hyper.key,
                         KeyTarget::carrier(Carrier::hyperKey(),
                                            CarrierMeaning::holdModifiers(Modifiers::hyper))});
        }

        std::vector<Rule> skippedKeyRules;
        for (const auto& rule : rulesOf(*profile)) {
            const auto* key = as<Control::Key>(rule.control);
            if (key == nullptr) continue;
            auto target = keyRuleTarget(rule, carriers);
            if (!target || !keyboardPair || (hyperSource && key->usage == *hyperSource)) {
                skippedKeyRules.push_back(rule);
                continue;
            }
            // Without the tap nothing reads the carrier key: such a rule is left out quietly.
            if (is<KeyTarget::Carrier>(*target) && !tapAvailable) continue;
            routes.push_back(KeyRoute{key->usage, std::move(*target)});
        }

        const bool hidppDevice = speaksHIDPP(device);
        std::optional<HIDPPSetup> hidpp;
        std::vector<Rule> skipped;
        if (hidppDevice) {
            auto compiled = HIDPPSetup::compile(*profile, device.hidpp);
            hidpp = std::move(compiled.setup);
            skipped = std::move(compiled.skipped);
        }
        skipped.insert(skipped.end(), skippedKeyRules.begin(), skippedKeyRules.end());
        if (!skipped.empty()) intent.skipped.emplace(device.id, std::move(skipped));

        const bool discover = hidppDevice && kindOf(*profile, properties) == DeviceKind::mouse &&
                              !device.hidpp.has_value();
        intent.setups.insert_or_assign(
            device.id, DeviceSetup{KeyMapSetup{std::move(routes)}, std::move(hidpp), discover});
    }

    std::vector<KeyRoute> tapRoutes;
    for (const auto& device : present) {
        auto setup = intent.setups.find(device.id);
        if (setup == intent.setups.end()) continue;
        const auto& routes = setup->second.keyMap.routes;
        tapRoutes.insert(tapRoutes.end(), routes.begin(), routes.end());
    }
    intent.tap = TapRules::fromRoutes(tapRoutes, std::move(smoothScroll), std::move(buttons));

    if (listening) intent.listen(*listening, present, tapAvailable);
    return intent;
}

void Intent::listen(const ListenTarget& target, const std::vector<PresentDevice>& present,
                    bool tapAvailable) {
    auto device = std::find_if(present.begin(), present.end(),
                               [&](const PresentDevice& d) { return d.id == target.device; });
    if (device == present.end()) return;
    auto entry = setups.find(device->id);
    if (entry == setups.end()) return;
    DeviceSetup& setup = entry->second;

    std::unordered_map<KeyCode, HIDUsage> carrierSources;
    for (const auto& route : setup.keyMap.routes) {
        if (const auto* carrier = as<KeyTarget::Carrier>(route.target)) {
            carrierSources.insert_or_assign(carrier->carrier.keyCode, route.source);
        }
    }

    if (speaksHIDPP(*device)) {
        HIDPPSetup hidpp = setup.hidpp ? *setup.hidpp : HIDPPSetup::native();
        hidpp.listening = true;
        hidpp.thumbWheelDiverted = !device->hidpp.has_value() || device->hidpp->thumbWheel;
        setup.hidpp = std::move(hidpp);
    }
    setup.keyMap = KeyMapSetup::neutral();

    if (tapAvailable && !device->eventServices.empty()) {
        tap.listen = TapListen{target.id, std::set<SenderID>(device->eventServices.begin(),
                                                             device->eventServices.end())};
    }
    listening = ListenPlan{target, std::move(carrierSources)};
}

}  // namespace tindlewave
