#include "App/MenuPresentation.h"

#include "Core/Overloaded.h"

namespace tindlewave {

namespace {

MenuPresentation::Notice noticeFor(const Attention& attention) {
    using Notice = MenuPresentation::Notice;
    using Fix = MenuPresentation::Fix;
    return std::visit(
        Overloaded{
            [](const Attention::Permission& a) -> Notice {
                if (a.permission == Permission::accessibility) {
                    return {"Accessibility is off", "The hyper key needs it. Click to allow.",
                            Fix::permission(a.permission)};
                }
                return {"Input Monitoring is off", "Mouse buttons need it. Click to allow.",
                        Fix::permission(a.permission)};
            },
            [](const Attention::Config& a) -> Notice {
                return {"Config file has an error",
                        a.error.description() + (a.lastGoodInForce
                                                     ? ". Still using the last good settings."
                                                     : ". No settings are in use yet."),
                        Fix::openConfig()};
            },
            [](const Attention::TapFailed&) -> Notice {
                return {"The keyboard tap could not start", "Click to try again.", Fix::reapply()};
            },
        },
        attention.value);
}

std::string hyperDetail(const std::optional<HyperStatus>& hyper, bool paused) {
    if (!hyper) return "Connected";
    return std::visit(Overloaded{
                          [](const HyperStatus::On&) { return std::string("Hyper key on"); },
                          [&](const HyperStatus::Off&) {
                              return std::string(paused ? "Paused" : "Hyper key off");
                          },
                          [](const HyperStatus::Applying&) { return std::string("Applying…"); },
                          [](const HyperStatus::Failed& f) { return "Not applied: " + f.reason; },
                      },
                      hyper->value);
}

// The device line's right-hand text.
std::string detail(const DeviceStatus& device, bool paused) {
    if (!device.connectedAt) return "Not connected";
    if (device.hidpp) {
        const auto& progress = device.hidpp->progress;
        if (is<HIDPPStatus::Progress::Applying>(progress)) return "Applying…";
        if (is<HIDPPStatus::Progress::NotSetUp>(progress)) return "Connected, not set up";
        if (!device.hyper) {
            if (paused) return "Paused";
            const std::size_t skipped = device.hidpp->skippedRules.size();
            if (skipped == 0) return "Connected";
            return "Connected, " + std::to_string(skipped) + (skipped == 1 ? " rule" : " rules") +
                   " skipped";
        }
    }
    return hyperDetail(device.hyper, paused);
}

}  // namespace

MenuPresentation MenuPresentation::make(const std::optional<EngineStatus>& status,
                                        const TimeText& time) {
    MenuPresentation presentation;
    if (!status) return presentation;
    for (const Attention& attention : status->attention()) {
        presentation.notices.push_back(noticeFor(attention));
    }
    if (const auto& reconnect = status->lastReconnect) {
        std::string footnote = reconnect->device + " reconnected at " + time(reconnect->at) + ".";
        if (reconnect->reapplied) footnote += " Settings re-applied.";
        presentation.footnote = std::move(footnote);
    }
    presentation.paused = status->run == RunState::paused;
    presentation.needsAttention = !presentation.notices.empty();
    presentation.state = presentation.paused           ? "Paused"
                         : presentation.needsAttention ? "Needs attention"
                                                       : "Active";
    for (const DeviceStatus& device : status->devices) {
        presentation.rows.push_back({device.name, detail(device, presentation.paused)});
    }
    return presentation;
}

std::string MenuPresentation::summary() const {
    std::string text = "state=" + state + " notices=[";
    for (std::size_t i = 0; i < notices.size(); ++i) {
        if (i > 0) text += "; ";
        text += notices[i].title;
    }
    text += "] devices=[";
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (i > 0) text += "; ";
        text += rows[i].name + "=" + rows[i].detail;
    }
    text += "]";
    if (footnote) text += " footnote=" + *footnote;
    return text;
}

}  // namespace tindlewave
