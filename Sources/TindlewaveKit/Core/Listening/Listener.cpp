#include "Core/Listening/Listener.h"

#include "Model/HexCoding.h"
#include "Model/Rule.h"

namespace tindlewave {

std::string toText(ListenID id) {
    std::string text(1, '#');
    return text += std::to_string(id.rawValue);
}

std::string ListenPress::description() const {
    if (const auto* hidpp = as<Hidpp>(*this)) return "control " + hexText(hidpp->cid.rawValue);
    if (const auto* button = as<Button>(*this)) return "button " + std::to_string(button->number);
    if (const auto* key = as<Key>(*this)) return "key code " + std::to_string(key->keyCode.rawValue);
    return "the thumb wheel";
}

Heard ListenPlan::heard(const ListenPress& press) const {
    if (const auto* hidpp = as<ListenPress::Hidpp>(press)) {
        return Heard::control(Control::hidpp(hidpp->cid));
    }
    if (const auto* button = as<ListenPress::Button>(press)) {
        if (Control::buttonRange.contains(button->number)) {
            return Heard::control(Control::button(button->number));
        }
        return Heard::unnamed();
    }
    if (const auto* key = as<ListenPress::Key>(press)) {
        if (const auto source = carrierSources.find(key->keyCode); source != carrierSources.end()) {
            return Heard::control(Control::key(source->second));
        }
        const auto& byKeyCode = KeyTable::byKeyCode();
        if (const auto row = byKeyCode.find(key->keyCode); row != byKeyCode.end()) {
            return Heard::control(Control::key(row->second.usage));
        }
        return Heard::unnamed();
    }
    return Heard::control(Control::thumbWheel());
}

std::optional<Listener::Armed> Listener::hear(const ListenSource& source) {
    const auto* armed = as<Armed>(state);
    if (armed == nullptr) return std::nullopt;
    const bool fromArmed = std::visit(
        [&](const auto& s) {
            using S = std::decay_t<decltype(s)>;
            if constexpr (std::is_same_v<S, ListenSource::Tap>) {
                return s.id == armed->id;
            } else {
                return s.device == armed->device;
            }
        },
        source.value);
    if (!fromArmed) return std::nullopt;
    Armed heard = *armed;
    state = State::idle();
    return heard;
}

}  // namespace tindlewave
