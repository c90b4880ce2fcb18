#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "Core/Tap/Event.h"
#include "Core/Keys/KeyRoutes.h"
#include "Core/Tap/TapVerdict.h"
#include "Model/Keys.h"

namespace tindlewave {

// Turns carrier keys back into what they carry: a click rule's action, or modifiers held while
// the key is down (the hyper key), which then also modify every other key typed meanwhile.
class CarrierStage {
  public:
    CarrierStage() = default;
    explicit CarrierStage(const std::map<KeyCode, CarrierMeaning>& carriers);

    // Key downs and ups only. Whether the stage decides the event, with its answer in
    // `verdict`; false lets the (possibly changed) event pass. A key that is no carrier only
    // takes the held carriers' modifiers, without leaving this header.
    bool process(EventType type, Event& event, TapVerdict& verdict) {
        if (type != EventType::keyDown && type != EventType::keyUp) return false;
        std::int64_t code = event.integer(IntegerField::keyCode);
        if (mayCarry(code)) {
            for (const auto& [key, meaning] : carriers_) {
                if (key.rawValue == code) return carrierKey(type, event, key, meaning, verdict);
            }
        }
        event.flags |= heldFlags_;
        return false;
    }

    // The carrier keys that are down, with the modifiers each holds, in the order they went down.
    const std::vector<std::pair<KeyCode, Modifiers>>& held() const { return held_; }
    // Forgets every held carrier key (the tap lost track of them).
    void emptyHeld();

  private:
    // Key codes below this have a bit each in `low_`, set for the carriers; others are scanned.
    static constexpr std::int64_t lowCodes = 128;

    // Whether a key code may be a carrier: for the usual codes, whether its bit is set.
    bool mayCarry(std::int64_t code) const {
        if (code < 0 || code >= lowCodes) return true;
        const auto bit = static_cast<std::uint64_t>(code);
        return ((low_[bit / 64] >> (bit % 64)) & 1) != 0;
    }

    bool carrierKey(EventType type, Event& event, KeyCode code, const CarrierMeaning& meaning,
                    TapVerdict& verdict);

    // A flat copy of the rules' carriers: there are at most a handful, and a scan of them is
    // cheaper than a tree walk for every key event.
    std::vector<std::pair<KeyCode, CarrierMeaning>> carriers_;
    std::array<std::uint64_t, lowCodes / 64> low_{};   // the carriers among the usual codes
    std::vector<std::pair<KeyCode, Modifiers>> held_;  // capacity for every carrier, reserved
    std::uint64_t heldFlags_ = 0;                      // the event flags of all held modifiers
};

}  // namespace tindlewave
