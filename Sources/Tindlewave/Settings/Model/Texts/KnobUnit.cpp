#include "Settings/Model/Texts/KnobUnit.h"

namespace tindlewave {

std::string format(KnobUnit unit, double value, const NumberFormat& numbers) {
    switch (unit) {
        case KnobUnit::tenthsOfASecond:
            return numbers.fixed(value / 10, 1, 1) + " s";
        case KnobUnit::milliseconds:
            return numbers.fixed(value, 0, 0) + " ms";
        case KnobUnit::counts:
            return numbers.fixed(value, 0, 0) + " counts";
        case KnobUnit::times:
            return numbers.fixed(value, 1, 2) + "\u00D7";
        case KnobUnit::none:
            return numbers.fixed(value, 0, 1);
    }
    return numbers.fixed(value, 0, 1);
}

}  // namespace tindlewave
