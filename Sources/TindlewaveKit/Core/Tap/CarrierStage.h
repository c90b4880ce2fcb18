#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "Core/Keys/KeyRoutes.h"
#include "Core/Tap/Event.h"
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
            if (!ended_.empty() && endedKey(type, event, code, verdict)) return true;
            for (const auto& [key, meaning] : carriers_) {
                if (key.rawValue == code) return carrierKey(type, event, key, meaning, verdict);
            }
        }
        event.flags |= heldFlags_;
        return false;
    }

    // The carrier keys that are down, with the modifiers each holds, in the order they went down.
    const std::vector<std::pair<KeyCode, Modifiers>>& held() const { return held_; }
    bool holds(std::int64_t code) const {
        for (const auto& entry : held_) {
            if (entry.first.rawValue == code) return true;
        }
        return false;
    }
    // Carrier keys whose hold was ended while they were down: their autorepeats and their up are
    // swallowed (a down that is no autorepeat is a new press).
    const std::vector<KeyCode>& ended() const { return ended_; }

    // Takes new carriers. A held carrier key that holds the same modifiers under them stays
    // held; every other held key is ended. Returns the modifiers that the ended keys held and no
    // key still held holds: the system was told they are down, and the caller tells it that
    // they are up.
    Modifiers follow(const std::map<KeyCode, CarrierMeaning>& carriers);
    // Ends every held carrier key (the tap may have missed their ups) and returns their
    // modifiers, as follow() does.
    Modifiers endHeld();

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
    // The rest of an ended key's press: whether the stage decides the event.
    bool endedKey(EventType type, const Event& event, std::int64_t code, TapVerdict& verdict);
    // Moves the held keys for which `keep` is false to `ended_`; returns what follow() returns.
    template <class Keep>
    Modifiers endHeldUnless(Keep keep);
    void refreshHeld();
    void refreshLowCodes();

    // A flat copy of the rules' carriers: there are at most a handful, and a scan of them is
    // cheaper than a tree walk for every key event.
    std::vector<std::pair<KeyCode, CarrierMeaning>> carriers_;
    std::array<std::uint64_t, lowCodes / 64> low_{};   // carriers and ended keys among them
    std::vector<std::pair<KeyCode, Modifiers>> held_;  // capacity for every carrier, reserved
    Modifiers heldModifiers_;                          // all held modifiers
    std::uint64_t heldFlags_ = 0;                      // their event flags
    std::vector<KeyCode> ended_;
};

}  // namespace tindlewave
