// The status card of a device row: SettingsDevice::card.

#include <string>
#include <vector>

#include "Core/Overloaded.h"
#include "Settings/Model/Devices/SettingsDevice.h"

namespace tindlewave {

namespace {

std::string connectionTitle(const DeviceMatch& match, const std::optional<std::string>& transport) {
    if (is<DeviceMatch::BuiltIn>(match)) return "Built into this computer";
    if (transport && transport->find("Bluetooth") != std::string::npos) {
        return "Connected over Bluetooth";
    }
    if (transport && transport->find("USB") != std::string::npos) return "Connected over USB";
    return "Connected";
}

// The HID++ sentences of a configured, connected device.
void addHidppSentences(std::vector<std::string>& sentences, const HIDPPStatus& hidpp,
                       const TimeText& time) {
    std::visit(Overloaded{
                   [&](const HIDPPStatus::Progress::Applying&) {
                       sentences.emplace_back("Applying settings…");
                   },
                   [&](const HIDPPStatus::Progress::NotSetUp& notSetUp) {
                       sentences.push_back("Settings not applied: " + notSetUp.reason + ".");
                   },
                   [&](const HIDPPStatus::Progress::SetUp&) {
                       sentences.push_back(hidpp.lastApply
                                               ? "Settings applied at " + time(*hidpp.lastApply) + "."
                                               : std::string("Settings applied."));
                       const std::size_t skipped = hidpp.skippedRules.size();
                       if (skipped == 1) {
                           sentences.emplace_back("1 rule is skipped because this mouse cannot do it.");
                       } else if (skipped > 1) {
                           sentences.push_back(std::to_string(skipped) +
                                               " rules are skipped because this mouse cannot do them.");
                       }
                   },
               },
               hidpp.progress.value);
}

std::string hyperSentence(const HyperStatus& hyper) {
    return std::visit(Overloaded{
                          [](const HyperStatus::On&) { return std::string("Hyper key on."); },
                          [](const HyperStatus::Off&) { return std::string("Hyper key off."); },
                          [](const HyperStatus::Applying&) {
                              return std::string("Turning on the hyper key…");
                          },
                          [](const HyperStatus::Failed& failed) {
                              return "Hyper key not applied: " + failed.reason + ".";
                          },
                      },
                      hyper.value);
}

std::string joined(const std::vector<std::string>& sentences) {
    std::string text;
    for (const std::string& sentence : sentences) {
        if (!text.empty()) text += ' ';
        text += sentence;
    }
    return text;
}

}  // namespace

StatusCard SettingsDevice::card(bool paused, const TimeText& time) const {
    if (!connected()) {
        return {"Not connected", "Tindlewave applies this profile as soon as it connects.", false};
    }
    const Date connectedAt = *status->connectedAt;
    StatusCard card{connectionTitle(match, status->transport), "", true};
    if (isNew()) {
        card.detail = "First seen at " + time(connectedAt) +
                      ". Tindlewave changes nothing on it until you set it up.";
        return card;
    }
    std::vector<std::string> sentences{"Connected at " + time(connectedAt) + "."};
    if (paused) {
        sentences.emplace_back("Tindlewave is paused, so it works as the system has it.");
    } else {
        if (status->hidpp) addHidppSentences(sentences, *status->hidpp, time);
        if (status->hyper) sentences.push_back(hyperSentence(*status->hyper));
    }
    card.detail = joined(sentences);
    return card;
}

}  // namespace tindlewave
