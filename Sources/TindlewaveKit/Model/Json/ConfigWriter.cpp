#include "Model/Json/ConfigWriter.h"

#include "Model/HexCoding.h"

namespace tindlewave::json {

namespace {

template <class Id>
void writeId(JsonWriter& out, Id id) {
    out.string(hexText(id));
}

void writeKeyName(JsonWriter& out, const std::optional<std::string>& name) {
    if (!name) return out.fail(std::string(unnamedKey));
    out.string(*name);
}

void writeChord(JsonWriter& out, const Chord& chord) {
    const auto keyName = chord.key.name();
    if (!keyName) return out.fail(std::string(unnamedKey));
    std::string text;
    if (chord.modifiers.contains(Modifiers::control)) text.append("ctrl+");
    if (chord.modifiers.contains(Modifiers::option)) text.append("opt+");
    if (chord.modifiers.contains(Modifiers::shift)) text.append("shift+");
    if (chord.modifiers.contains(Modifiers::command)) text.append("cmd+");
    text.append(*keyName);
    out.string(text);
}

}  // namespace

static void write(JsonWriter& out, const GestureSettings& gestures) {
    out.beginObject();
    out.key("distance");
    out.integer(gestures.distance);
    out.key("fire");
    out.string(toText(gestures.fire));
    out.endObject();
}

static void write(JsonWriter& out, const ClickThrough& click) {
    out.beginObject();
    out.key("left");
    out.boolean(click.left);
    out.key("right");
    out.boolean(click.right);
    out.endObject();
}

static void write(JsonWriter& out, const ScrollSettings& scrolling) {
    out.beginObject();
    if (scrolling.clickThrough) {
        out.key("clickThrough");
        write(out, *scrolling.clickThrough);
    }
    if (scrolling.hiResWheel) {
        out.key("hiResWheel");
        out.boolean(*scrolling.hiResWheel);
    }
    if (scrolling.holdToScroll) {
        out.key("holdToScroll");
        write(out, *scrolling.holdToScroll);
    }
    if (scrolling.smooth) {
        out.key("smooth");
        write(out, *scrolling.smooth);
    }
    out.endObject();
}

static void write(JsonWriter& out, const HyperSettings& hyper) {
    out.beginObject();
    out.key("enabled");
    out.boolean(hyper.enabled);
    out.key("key");
    writeKeyName(out, hyper.key.name());
    out.key("onTap");
    out.string(toText(hyper.onTap));
    out.endObject();
}

void write(JsonWriter& out, const DeviceMatch& match) {
    out.beginObject();
    if (const auto* device = as<DeviceMatch::Device>(match)) {
        out.key("product");
        writeId(out, device->product);
        out.key("vendor");
        writeId(out, device->vendor);
    } else {
        out.key("builtIn");
        out.boolean(true);
    }
    out.endObject();
}

void write(JsonWriter& out, const Control& control) {
    if (is<Control::ThumbWheel>(control)) return out.string("thumbWheel");
    out.beginObject();
    if (const auto* button = as<Control::Button>(control)) {
        out.key("button");
        out.integer(button->number);
    } else if (const auto* hidpp = as<Control::Hidpp>(control)) {
        out.key("hidpp");
        writeId(out, hidpp->cid);
    } else if (const auto* key = as<Control::Key>(control)) {
        out.key("key");
        writeKeyName(out, key->usage.name());
    }
    out.endObject();
}

void write(JsonWriter& out, const Trigger& trigger) {
    out.string(trigger.name());
}

void write(JsonWriter& out, const Action& action) {
    if (const auto* system = as<Action::System>(action)) return out.string(toText(system->action));
    if (is<Action::Reverse>(action)) return out.string("reverse");
    if (is<Action::Scroll>(action)) return out.string("scroll");
    out.beginObject();
    if (const auto* modifier = as<Action::Modifier>(action)) {
        out.key("modifier");
        out.string(toText(modifier->modifier));
    } else if (const auto* shortcut = as<Action::Shortcut>(action)) {
        out.key("shortcut");
        writeChord(out, shortcut->chord);
    }
    out.endObject();
}

void write(JsonWriter& out, const Rule& rule) {
    out.beginObject();
    out.key("control");
    write(out, rule.control);
    out.key("do");
    write(out, rule.action);
    out.key("when");
    write(out, rule.trigger);
    out.endObject();
}

void write(JsonWriter& out, const SpeedCurve& curve) {
    out.beginList();
    for (const SpeedCurve::Point& point : curve.points()) {
        out.beginObject();
        out.key("pointsPerSecond");
        out.number(point.pointsPerSecond);
        out.key("stepsPerSecond");
        out.number(point.stepsPerSecond);
        out.endObject();
    }
    out.endList();
}

void write(JsonWriter& out, const SmoothScroll& smooth) {
    out.beginObject();
    out.key("brake");
    out.number(smooth.brake);
    out.key("curve");
    write(out, smooth.curve);
    out.key("duration");
    out.number(smooth.duration);
    out.key("easeIn");
    out.number(smooth.easeIn);
    out.endObject();
}

void write(JsonWriter& out, const HoldToScroll& hold) {
    out.beginObject();
    out.key("direction");
    out.string(toText(hold.direction));
    out.key("momentum");
    out.boolean(hold.momentum);
    out.key("speed");
    out.number(hold.speed);
    out.endObject();
}

void write(JsonWriter& out, std::string_view text) {
    out.string(text);
}

void write(JsonWriter& out, const DeviceProfile& profile) {
    out.beginObject();
    if (profile.gestures) {
        out.key("gestures");
        write(out, *profile.gestures);
    }
    if (profile.hyper) {
        out.key("hyper");
        out.boolean(*profile.hyper);
    }
    if (profile.kind) {
        out.key("kind");
        out.string(toText(*profile.kind));
    }
    out.key("match");
    write(out, profile.match);
    out.key("name");
    out.string(profile.name);
    if (profile.rules) {
        out.key("rules");
        out.beginList();
        for (const Rule& rule : *profile.rules) write(out, rule);
        out.endList();
    }
    if (profile.scrolling) {
        out.key("scrolling");
        write(out, *profile.scrolling);
    }
    out.endObject();
}

void write(JsonWriter& out, const Config& config) {
    out.beginObject();
    out.key("devices");
    out.beginList();
    for (const DeviceProfile& profile : config.devices) write(out, profile);
    out.endList();
    out.key("hyper");
    write(out, config.hyper);
    out.key("ignored");
    out.beginList();
    for (const DeviceMatch& match : config.ignored) write(out, match);
    out.endList();
    out.key("version");
    out.integer(config.version);
    out.endObject();
}

}  // namespace tindlewave::json
