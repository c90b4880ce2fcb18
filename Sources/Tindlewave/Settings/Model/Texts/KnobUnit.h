#pragma once

#include <string>

#include "Settings/Model/Texts/NumberFormat.h"

namespace tindlewave {

// The unit a knob's value is written in.
enum class KnobUnit {
    tenthsOfASecond,  // the value counts tenths of a second, written in seconds: "0.4 s"
    milliseconds,     // "60 ms"
    counts,           // mouse sensor counts: "2,000 counts"
    times,            // a factor: "1.0×", "1.25×"
    none,             // a plain number: "2", "2.5"
};

// The value written with its unit, in the locale's number format.
std::string format(KnobUnit unit, double value, const NumberFormat& numbers);

}  // namespace tindlewave
