#pragma once

// Rules as a configured keyboard and mouse give them: the hyper key on F18, click carriers, a
// smoothed wheel and buttons with swipes, a press, a hold-to-scroll and two key holds. The tap
// benchmarks measure their paths against these.

#include "Core/Tap/TapPipeline.h"

namespace tindlewave::bench {

inline TapRules typicalTapRules(SenderID mouse) {
    TapRules rules;
    rules.carriers.emplace(KeyCode{79}, CarrierMeaning::holdModifiers(Modifiers::hyper));
    rules.carriers.emplace(KeyCode{105},
                           CarrierMeaning::press(Action::system(SystemAction::missionControl)));
    rules.carriers.emplace(KeyCode{107},
                           CarrierMeaning::press(Action::system(SystemAction::appExpose)));
    rules.smoothScroll.emplace(mouse, SmoothScroll::defaults());
    GesturePlan swipes{
        1e12, std::nullopt,
        GestureMoves::swipes({{Direction::left, Action::system(SystemAction::spaceLeft)},
                              {Direction::right, Action::system(SystemAction::spaceRight)}},
                             GestureFire::pastDistance)};
    rules.buttons.emplace(ButtonKey{mouse, 2}, ControlBehavior::gesture(swipes));
    rules.buttons.emplace(ButtonKey{mouse, 3},
                          ControlBehavior::press(Action::system(SystemAction::appExpose)));
    rules.buttons.emplace(ButtonKey{mouse, 4}, ControlBehavior::hold(KeyHold{
                                                   {HeldModifier::leftCommand}, std::nullopt}));
    GesturePlan scrolls{1e12, Action::system(SystemAction::missionControl),
                        GestureMoves::scroll(HoldScrollPlan(2, std::nullopt))};
    rules.buttons.emplace(ButtonKey{mouse, 5}, ControlBehavior::gesture(scrolls));
    rules.buttons.emplace(ButtonKey{mouse, 6},
                          ControlBehavior::hold(KeyHold{
                              {HeldModifier::leftCommand, HeldModifier::leftShift}, KeyCode{8}}));
    return rules;
}

}  // namespace tindlewave::bench
