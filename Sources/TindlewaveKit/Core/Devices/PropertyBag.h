#pragma once

#include <concepts>
#include <cstdint>
#include <map>
#include <string>
#include <variant>
#include <vector>

#include "Model/VariantRecord.h"

namespace tindlewave {

struct PropertyValue;

// The properties of one HID interface by name, as the system (or a simulated device) hands
// them out: integers, texts, lists of such maps, and sometimes booleans.
using PropertyBag = std::map<std::string, PropertyValue>;

struct PropertyValue {
    std::variant<std::int64_t, bool, std::string, std::vector<PropertyBag>> value;

    PropertyValue() : value(std::int64_t{0}) {}
    template <std::integral I>
    requires(!std::same_as<I, bool>) PropertyValue(I v) : value(static_cast<std::int64_t>(v)) {}
    PropertyValue(bool v) : value(v) {}
    PropertyValue(std::string v) : value(std::move(v)) {}
    PropertyValue(const char* v) : value(std::string(v)) {}
    PropertyValue(std::vector<PropertyBag> v) : value(std::move(v)) {}

    bool operator==(const PropertyValue&) const = default;
};

}  // namespace tindlewave
