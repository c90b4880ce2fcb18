#include "Model/ConfigError.h"

namespace tindlewave {

std::string ConfigError::description() const {
    if (path.empty()) return message;
    return path + ": " + message;
}

std::string ConfigError::renderPath(const std::vector<PathKey>& components) {
    std::string text;
    for (const PathKey& component : components) {
        if (component.intValue) {
            text += "[" + component.stringValue + "]";
        } else if (text.empty()) {
            text = component.stringValue;
        } else {
            text += "." + component.stringValue;
        }
    }
    return text;
}

}  // namespace tindlewave
