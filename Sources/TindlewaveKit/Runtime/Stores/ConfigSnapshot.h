#pragma once

#include <optional>

#include "Model/Config.h"
#include "Model/ConfigError.h"

namespace tindlewave {

// One state of the settings file: the last configuration that loaded without error (none until
// one has) beside the file's current error (none when the last load succeeded).
struct ConfigSnapshot {
    std::optional<Config> config{};
    std::optional<ConfigError> error{};

    bool operator==(const ConfigSnapshot&) const = default;
};

}  // namespace tindlewave
