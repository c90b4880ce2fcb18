#include "Model/Json/ConfigWalk.h"

namespace tindlewave::ConfigCodec {

std::optional<ConfigError> unknownKey(const json::Json& file, const json::Json& schema,
                                      const json::JsonPath& path) {
    if (file.is_object() && schema.is_object()) {
        const auto& schemaObject = schema.get_ref<const json::Json::object_t&>();
        const json::Json* legacy = nullptr;
        bool legacyAsked = false;
        // The object's keys are held in ascending byte order already.
        for (const auto& [key, value] : file.get_ref<const json::Json::object_t&>()) {
            const json::JsonPath keyPath = path.child(key);
            if (value.is_null()) {
                return ConfigError{keyPath.text(),
                                   "null is not allowed. Leave the key out instead"};
            }
            const json::Json* known = nullptr;
            if (const auto found = schemaObject.find(key); found != schemaObject.end()) {
                known = &found->second;
            } else {
                if (!legacyAsked) {
                    legacy = legacySchema(path.text(), file);
                    legacyAsked = true;
                }
                if (legacy) {
                    const auto& legacyObject = legacy->get_ref<const json::Json::object_t&>();
                    if (const auto old = legacyObject.find(key); old != legacyObject.end()) {
                        known = &old->second;
                    }
                }
            }
            if (!known) return ConfigError{keyPath.text(), "unknown key"};
            if (auto problem = unknownKey(value, *known, keyPath)) return problem;
        }
        return std::nullopt;
    }
    if (file.is_array() && schema.is_array()) {
        const std::size_t count = std::min(file.size(), schema.size());
        for (std::size_t i = 0; i < count; ++i) {
            if (auto problem = unknownKey(file[i], schema[i], path.at(i))) return problem;
        }
    }
    return std::nullopt;
}

}  // namespace tindlewave::ConfigCodec
