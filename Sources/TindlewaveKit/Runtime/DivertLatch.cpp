#include "Runtime/DivertLatch.h"

#include <algorithm>

#include "Core/Devices/ConfigMatching.h"
#include "Model/Config.h"

namespace tindlewave {

std::optional<DefaultsError> DivertLatch::insert(const DeviceMatch& match) const {
    return defaults.addToStringArray(key, hidutilKeyboardMatching(match));
}

bool DivertLatch::contains(const DeviceMatch& match) const {
    auto record = defaults.stringArray(key).value_or(std::vector<std::string>{});
    return std::find(record.begin(), record.end(), hidutilKeyboardMatching(match)) != record.end();
}

std::optional<DefaultsError> DivertLatch::clear() const {
    return defaults.remove(key);
}

}  // namespace tindlewave
