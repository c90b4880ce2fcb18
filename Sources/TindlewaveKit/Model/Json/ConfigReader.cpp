#include "Model/Json/ConfigReader.h"

#include <string>

#include "Model/HexCoding.h"

namespace tindlewave::json {

namespace {

std::string inQuotes(std::string_view text) {
    std::string result;
    result.reserve(text.size() + 2);
    result.push_back('"');
    result.append(text);
    result.push_back('"');
    return result;
}

// A plain-word enumeration: the case whose text is exactly the word.
template <class E>
E readWord(const Json& value, const JsonPath& path) {
    const std::string& word = readString(value, path);
    if (auto found = fromText<E>(word)) return *found;
    std::string message = inQuotes(word) + " is not one of ";
    bool first = true;
    for (E candidate : allCases<E>()) {
        if (!first) message.append(", ");
        first = false;
        message.append(inQuotes(toText(candidate)));
    }
    failData(path, std::move(message));
}

template <class Id>
Id readId(const Json& value, const JsonPath& path) {
    const std::string& text = readString(value, path);
    if (auto id = readHexId<Id>(text)) return *id;
    failData(path, inQuotes(text) + " is not a hex id such as \"0x046D\"");
}

HIDUsage readKeyName(const Json& value, const JsonPath& path) {
    const std::string& name = readString(value, path);
    if (auto usage = HIDUsage::named(name)) return *usage;
    failData(path, "unknown key " + inQuotes(name));
}

std::string lowerAscii(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return lower;
}

std::optional<Modifiers> modifierSpelled(std::string_view piece) {
    const std::string lower = lowerAscii(piece);
    if (lower == "ctrl" || lower == "control") return Modifiers::control;
    if (lower == "opt" || lower == "option" || lower == "alt") return Modifiers::option;
    if (lower == "shift") return Modifiers::shift;
    if (lower == "cmd" || lower == "command") return Modifiers::command;
    return std::nullopt;
}

Chord readChord(const Json& value, const JsonPath& path) {
    const std::string& text = readString(value, path);
    const std::string_view whole = text;
    const auto lastPlus = whole.rfind('+');
    const std::string_view keyName =
        lastPlus == std::string_view::npos ? whole : whole.substr(lastPlus + 1);
    const auto key = KeyCode::named(keyName);
    if (!key) failData(path, inQuotes(text) + " does not end in a key name such as \"s\" or \"4\"");

    Modifiers modifiers;
    if (lastPlus != std::string_view::npos) {
        const std::string_view rest = whole.substr(0, lastPlus);
        std::size_t start = 0;
        while (true) {
            const auto plus = rest.find('+', start);
            const std::string_view piece =
                rest.substr(start, plus == std::string_view::npos ? rest.npos : plus - start);
            const auto modifier = modifierSpelled(piece);
            if (!modifier) {
                failData(path, "unknown modifier " + inQuotes(piece) + " in " + inQuotes(text));
            }
            modifiers |= *modifier;
            if (plus == std::string_view::npos) break;
            start = plus + 1;
        }
    }
    return Chord{*key, modifiers};
}

DeviceMatch readMatch(const Json& value, const JsonPath& path) {
    const auto& object = readObject(value, path);
    if (const Json* builtIn = optionalMember(object, "builtIn")) {
        const JsonPath builtInPath = path.child("builtIn");
        const bool isBuiltIn = readBool(*builtIn, builtInPath);
        if (!isBuiltIn || optionalMember(object, "vendor") || optionalMember(object, "product")) {
            failData(builtInPath,
                     "write {\"builtIn\": true} alone, or a vendor and product instead");
        }
        return DeviceMatch::builtIn();
    }
    const VendorID vendor =
        readId<VendorID>(requiredMember(object, "vendor", path), path.child("vendor"));
    const ProductID product =
        readId<ProductID>(requiredMember(object, "product", path), path.child("product"));
    return DeviceMatch::device(vendor, product);
}

// Counts the keys of an object that belong to one of its alternative forms.
const char* onlyKey(const Json::object_t& object, std::initializer_list<const char*> keys) {
    const char* found = nullptr;
    for (const char* key : keys) {
        if (!hasKey(object, key)) continue;
        if (found) return nullptr;
        found = key;
    }
    return found;
}

Control readControl(const Json& value, const JsonPath& path) {
    if (value.is_string()) {
        const std::string& text = value.get_ref<const std::string&>();
        if (text == "thumbWheel") return Control::thumbWheel();
        failData(path, "unknown control " + inQuotes(text));
    }
    const auto& object = readObject(value, path);
    const char* key = onlyKey(object, {"hidpp", "key", "button"});
    if (!key) {
        failData(path,
                 "a control is \"thumbWheel\" or one of {\"hidpp\"}, {\"key\"}, {\"button\"}");
    }
    const Json& payload = object.find(key)->second;
    const JsonPath payloadPath = path.child(key);
    if (key[0] == 'h') return Control::hidpp(readId<CID>(payload, payloadPath));
    if (key[0] == 'k') return Control::key(readKeyName(payload, payloadPath));
    return Control::button(readInteger(payload, payloadPath));
}

Trigger readTrigger(const Json& value, const JsonPath& path) {
    const std::string& text = readString(value, path);
    const auto& names = Trigger::byName();
    const auto found = names.find(text);
    if (found == names.end()) failData(path, "unknown trigger " + inQuotes(text));
    return found->second;
}

Action readAction(const Json& value, const JsonPath& path) {
    if (value.is_string()) {
        const std::string& text = value.get_ref<const std::string&>();
        if (text == "reverse") return Action::reverse();
        if (text == "scroll") return Action::scroll();
        if (auto system = fromText<SystemAction>(text)) return Action::system(*system);
        failData(path, "unknown action " + inQuotes(text));
    }
    const auto& object = readObject(value, path);
    const char* key = onlyKey(object, {"shortcut", "modifier"});
    if (!key) {
        failData(path,
                 "an action is a name such as \"missionControl\", or {\"shortcut\"} or "
                 "{\"modifier\"}");
    }
    const Json& payload = object.find(key)->second;
    const JsonPath payloadPath = path.child(key);
    if (key[0] == 's') return Action::shortcut(readChord(payload, payloadPath));
    return Action::modifier(readWord<HeldModifier>(payload, payloadPath));
}

Rule readRule(const Json& value, const JsonPath& path) {
    const auto& object = readObject(value, path);
    Control control = readControl(requiredMember(object, "control", path), path.child("control"));
    Trigger trigger = readTrigger(requiredMember(object, "when", path), path.child("when"));
    Action action = readAction(requiredMember(object, "do", path), path.child("do"));
    return Rule{control, trigger, action};
}

GestureSettings readGestures(const Json& value, const JsonPath& path) {
    const auto& object = readObject(value, path);
    GestureSettings gestures;
    gestures.fire = readWord<GestureFire>(requiredMember(object, "fire", path), path.child("fire"));
    gestures.distance =
        readInteger(requiredMember(object, "distance", path), path.child("distance"));
    return gestures;
}

SpeedCurve readCurve(const Json& value, const JsonPath& path) {
    const auto& list = readList(value, path);
    std::vector<SpeedCurve::Point> points;
    points.reserve(list.size());
    for (std::size_t i = 0; i < list.size(); ++i) {
        const JsonPath pointPath = path.at(i);
        const auto& object = readObject(list[i], pointPath);
        SpeedCurve::Point point;
        point.stepsPerSecond = readDouble(requiredMember(object, "stepsPerSecond", pointPath),
                                          pointPath.child("stepsPerSecond"));
        point.pointsPerSecond = readDouble(requiredMember(object, "pointsPerSecond", pointPath),
                                           pointPath.child("pointsPerSecond"));
        points.push_back(point);
    }
    auto curve = SpeedCurve::make(std::move(points));
    if (!curve.ok()) {
        const SpeedCurve::Problem& problem = curve.error();
        auto components = path.components();
        if (problem.index) components.emplace_back(*problem.index);
        if (problem.key) components.emplace_back(*problem.key);
        throw ReadFailure(
            ReadFault{ReadFault::Kind::dataCorrupted, std::move(components), problem.message});
    }
    return std::move(curve).value();
}

SmoothScroll readSmooth(const Json& value, const JsonPath& path) {
    const auto& object = readObject(value, path);
    SmoothScroll smooth;
    smooth.duration = readDouble(requiredMember(object, "duration", path), path.child("duration"));
    smooth.brake = readDouble(requiredMember(object, "brake", path), path.child("brake"));
    if (const Json* easeIn = optionalMember(object, "easeIn")) {
        smooth.easeIn = readDouble(*easeIn, path.child("easeIn"));
    }
    if (const Json* curve = optionalMember(object, "curve")) {
        smooth.curve = readCurve(*curve, path.child("curve"));
    } else {
        smooth.curve = readLegacyCurve(object, path, smooth.duration);
    }
    return smooth;
}

HoldToScroll readHoldToScroll(const Json& value, const JsonPath& path) {
    const auto& object = readObject(value, path);
    HoldToScroll hold;
    hold.speed = readDouble(requiredMember(object, "speed", path), path.child("speed"));
    hold.direction = readWord<HoldScrollDirection>(requiredMember(object, "direction", path),
                                                   path.child("direction"));
    hold.momentum = readBool(requiredMember(object, "momentum", path), path.child("momentum"));
    return hold;
}

ClickThrough readClickThrough(const Json& value, const JsonPath& path) {
    const auto& object = readObject(value, path);
    ClickThrough click;
    click.left = readBool(requiredMember(object, "left", path), path.child("left"));
    click.right = readBool(requiredMember(object, "right", path), path.child("right"));
    return click;
}

ScrollSettings readScrolling(const Json& value, const JsonPath& path) {
    const auto& object = readObject(value, path);
    ScrollSettings scrolling;
    if (const Json* smooth = optionalMember(object, "smooth")) {
        scrolling.smooth = readSmooth(*smooth, path.child("smooth"));
    }
    if (const Json* hiRes = optionalMember(object, "hiResWheel")) {
        scrolling.hiResWheel = readBool(*hiRes, path.child("hiResWheel"));
    }
    if (const Json* hold = optionalMember(object, "holdToScroll")) {
        scrolling.holdToScroll = readHoldToScroll(*hold, path.child("holdToScroll"));
    }
    if (const Json* click = optionalMember(object, "clickThrough")) {
        scrolling.clickThrough = readClickThrough(*click, path.child("clickThrough"));
    }
    return scrolling;
}

DeviceProfile readDevice(const Json& value, const JsonPath& path) {
    const auto& object = readObject(value, path);
    DeviceProfile profile{readMatch(requiredMember(object, "match", path), path.child("match")),
                          readString(requiredMember(object, "name", path), path.child("name"))};
    if (const Json* kind = optionalMember(object, "kind")) {
        profile.kind = readWord<DeviceKind>(*kind, path.child("kind"));
    }
    if (const Json* rules = optionalMember(object, "rules")) {
        const JsonPath rulesPath = path.child("rules");
        const auto& list = readList(*rules, rulesPath);
        std::vector<Rule> read;
        read.reserve(list.size());
        for (std::size_t i = 0; i < list.size(); ++i) {
            read.push_back(readRule(list[i], rulesPath.at(i)));
        }
        profile.rules = std::move(read);
    }
    if (const Json* gestures = optionalMember(object, "gestures")) {
        profile.gestures = readGestures(*gestures, path.child("gestures"));
    }
    if (const Json* scrolling = optionalMember(object, "scrolling")) {
        profile.scrolling = readScrolling(*scrolling, path.child("scrolling"));
    }
    if (const Json* hyper = optionalMember(object, "hyper")) {
        profile.hyper = readBool(*hyper, path.child("hyper"));
    }
    convertRightButtonPan(object, path, profile);
    return profile;
}

HyperSettings readHyper(const Json& value, const JsonPath& path) {
    const auto& object = readObject(value, path);
    HyperSettings hyper;
    if (const Json* enabled = optionalMember(object, "enabled")) {
        hyper.enabled = readBool(*enabled, path.child("enabled"));
    }
    hyper.key = readKeyName(requiredMember(object, "key", path), path.child("key"));
    hyper.onTap = readWord<HyperTap>(requiredMember(object, "onTap", path), path.child("onTap"));
    return hyper;
}

}  // namespace

Config readConfig(const Json& document) {
    const JsonPath root;
    const auto& object = readObject(document, root);
    Config config;
    config.version = readInteger(requiredMember(object, "version", root), root.child("version"));
    config.hyper = readHyper(requiredMember(object, "hyper", root), root.child("hyper"));

    const JsonPath devicesPath = root.child("devices");
    const auto& devices = readList(requiredMember(object, "devices", root), devicesPath);
    config.devices.reserve(devices.size());
    for (std::size_t i = 0; i < devices.size(); ++i) {
        config.devices.push_back(readDevice(devices[i], devicesPath.at(i)));
    }

    const JsonPath ignoredPath = root.child("ignored");
    const auto& ignored = readList(requiredMember(object, "ignored", root), ignoredPath);
    config.ignored.reserve(ignored.size());
    for (std::size_t i = 0; i < ignored.size(); ++i) {
        config.ignored.push_back(readMatch(ignored[i], ignoredPath.at(i)));
    }
    return config;
}

}  // namespace tindlewave::json
