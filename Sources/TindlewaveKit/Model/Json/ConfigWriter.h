#pragma once

#include <string_view>

#include "Model/Config.h"
#include "Model/Json/JsonWriter.h"

namespace tindlewave::json {

// Each record in its file form, keys in ascending order, absent optionals left out. A key without a
// name in the key table makes the writer fail with "unnamed key".
void write(JsonWriter& out, const Config& config);
void write(JsonWriter& out, const DeviceProfile& profile);
void write(JsonWriter& out, const DeviceMatch& match);
void write(JsonWriter& out, const Rule& rule);
void write(JsonWriter& out, const Control& control);
void write(JsonWriter& out, const Trigger& trigger);
void write(JsonWriter& out, const Action& action);
void write(JsonWriter& out, const SpeedCurve& curve);
void write(JsonWriter& out, const SmoothScroll& smooth);
void write(JsonWriter& out, const HoldToScroll& hold);
void write(JsonWriter& out, std::string_view text);

inline constexpr std::string_view unnamedKey = "unnamed key";

}  // namespace tindlewave::json
