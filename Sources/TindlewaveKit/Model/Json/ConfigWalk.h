#pragma once

// The walk that refuses nulls and unknown keys: the parsed file against the parsed re-encoding of
// what the reader understood. Only the codec's own sources include this header.

#include <optional>
#include <string_view>

#include "Model/ConfigError.h"
#include "Model/Json/JsonReader.h"

namespace tindlewave::ConfigCodec {

// The first null or unknown key of `file`, with `schema` saying which keys are known; keys are
// visited in ascending order at every level, depth first.
std::optional<ConfigError> unknownKey(const json::Json& file, const json::Json& schema,
                                      const json::JsonPath& path = {});

// The older keys accepted in the file object `object` at `path` (the object's own path), as a
// schema object, or none.
const json::Json* legacySchema(std::string_view path, const json::Json& object);

}  // namespace tindlewave::ConfigCodec
