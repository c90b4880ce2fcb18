#pragma once

#include "Model/Config.h"
#include "Settings/Model/Edits/SettingsEdit.h"
#include "Settings/Model/Scrolling/SliderScale.h"

namespace tindlewave {

// The Buttons page's "Distance before a swipe" knob: its scale and the edit a committed value
// makes.
namespace GestureKnob {

// 20 to 2000 counts in steps of 10, on a logarithmic curve.
SliderScale scale();
// The distance edit for a committed knob value: the value taken toward zero, kept inside the
// setting's range (the scale never leaves it; NaN counts as its lower end).
SettingsEdit distance(const DeviceMatch& match, double value);

}  // namespace GestureKnob

}  // namespace tindlewave
