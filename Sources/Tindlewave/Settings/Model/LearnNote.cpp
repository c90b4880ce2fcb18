#include "Settings/Model/LearnNote.h"

namespace tindlewave {

bool LearnNote::highlights(const Rule& rule) const {
    if (auto added = as<Added>()) return added->key.names(rule);
    if (auto full = as<Full>()) return rule.control == full->control;
    return false;
}

}  // namespace tindlewave
