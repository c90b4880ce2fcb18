#include "Settings/Model/Buttons/LearnNote.h"

namespace tindlewave {

bool LearnNote::highlights(const Rule& rule) const {
    if (auto added = as<Added>(*this)) return added->key.names(rule);
    if (auto full = as<Full>(*this)) return rule.control == full->control;
    return false;
}

}  // namespace tindlewave
