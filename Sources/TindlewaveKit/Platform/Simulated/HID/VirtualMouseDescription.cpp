#include "Platform/Simulated/HID/VirtualMouseDescription.h"

#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <system_error>

#include <fmt/format.h>

#include "Platform/Linux/System/Files.h"

namespace tindlewave {

namespace {

using Json = nlohmann::json;

// A failure while reading one field: the dotted path and what was wrong with it.
struct FieldError {
    std::string path;
    std::string message;
};

template <class T>
using Read = Result<T, FieldError>;

Read<const Json*> member(const Json& object, const std::string& path, const char* key) {
    auto found = object.find(key);
    if (found == object.end()) return FieldError{path + key, "is missing"};
    return &*found;
}

// "0x52", "0x1B04": an unsigned hexadecimal text no larger than `max`.
Read<unsigned> hexText(const Json& value, const std::string& path, unsigned max) {
    const std::string example = max > 0xFF ? "\"0x1B04\"" : "\"0x52\"";
    if (!value.is_string()) {
        return FieldError{path, "expected a hexadecimal text such as " + example};
    }
    const std::string& text = value.get_ref<const std::string&>();
    if (text.size() < 3 || text.size() > 6 || text[0] != '0' ||
        (text[1] != 'x' && text[1] != 'X')) {
        return FieldError{
            path, "expected a hexadecimal text such as " + example + ", got \"" + text + "\""};
    }
    unsigned result = 0;
    for (std::size_t i = 2; i < text.size(); ++i) {
        const char c = text[i];
        unsigned digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned>(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned>(c - 'A' + 10);
        } else {
            return FieldError{
                path, "expected a hexadecimal text such as " + example + ", got \"" + text + "\""};
        }
        result = result * 16 + digit;
    }
    if (result > max) {
        return FieldError{path, fmt::format("{} is larger than 0x{:X}", text, max)};
    }
    return result;
}

Read<unsigned> hexField(const Json& object, const std::string& path, const char* key,
                        unsigned max) {
    auto value = member(object, path, key);
    if (!value) return value.error();
    return hexText(**value, path + key, max);
}

Read<unsigned> numberField(const Json& object, const std::string& path, const char* key,
                           unsigned max) {
    auto value = member(object, path, key);
    if (!value) return value.error();
    const Json& json = **value;
    if (!json.is_number_unsigned() && !(json.is_number_integer() && json.get<long long>() >= 0)) {
        return FieldError{path + key, "expected a whole number from 0 to " + std::to_string(max)};
    }
    const auto number = json.get<unsigned long long>();
    if (number > max) {
        return FieldError{path + key, "expected a whole number from 0 to " + std::to_string(max)};
    }
    return static_cast<unsigned>(number);
}

Read<VirtualMouseDescription::Feature> readFeature(const Json& json, std::size_t position) {
    const std::string path = fmt::format("features[{}].", position);
    if (!json.is_object()) return FieldError{path.substr(0, path.size() - 1), "expected an object"};
    auto index = numberField(json, path, "index", 0xFF);
    if (!index) return index.error();
    if (*index != position) {
        return FieldError{path + "index",
                          fmt::format("is {}, but the table lists features in index order, so it "
                                      "must be {}",
                                      *index, position)};
    }
    auto id = hexField(json, path, "id", 0xFFFF);
    if (!id) return id.error();
    auto flags = hexField(json, path, "flags", 0xFF);
    if (!flags) return flags.error();
    return VirtualMouseDescription::Feature{static_cast<std::uint16_t>(*id),
                                            static_cast<std::uint8_t>(*flags)};
}

Read<VirtualMouseDescription::Control> readControl(const Json& json, std::size_t position) {
    const std::string path = fmt::format("controls[{}].", position);
    if (!json.is_object()) return FieldError{path.substr(0, path.size() - 1), "expected an object"};
    auto index = numberField(json, path, "index", 0xFF);
    if (!index) return index.error();
    if (*index != position) {
        return FieldError{path + "index",
                          fmt::format("is {}, but controls are listed in the device's order, so "
                                      "it must be {}",
                                      *index, position)};
    }
    auto cid = hexField(json, path, "cid", 0xFFFF);
    if (!cid) return cid.error();
    if (*cid == 0) return FieldError{path + "cid", "0x0 is not a control id"};
    auto tid = hexField(json, path, "tid", 0xFFFF);
    if (!tid) return tid.error();
    auto flags = hexField(json, path, "flags", 0xFF);
    if (!flags) return flags.error();
    auto additional = hexField(json, path, "additionalFlags", 0xFF);
    if (!additional) return additional.error();
    auto pos = numberField(json, path, "pos", 0xFF);
    if (!pos) return pos.error();
    auto group = numberField(json, path, "group", 0xFF);
    if (!group) return group.error();
    auto groupMask = hexField(json, path, "groupMask", 0xFF);
    if (!groupMask) return groupMask.error();
    return VirtualMouseDescription::Control{
        static_cast<std::uint16_t>(*cid),     static_cast<std::uint16_t>(*tid),
        static_cast<std::uint8_t>(*flags),    static_cast<std::uint8_t>(*additional),
        static_cast<std::uint8_t>(*pos),      static_cast<std::uint8_t>(*group),
        static_cast<std::uint8_t>(*groupMask)};
}

Read<VirtualMouseDescription> readMouse(const Json& json) {
    if (!json.is_object()) return FieldError{"(top level)", "expected an object"};
    VirtualMouseDescription mouse;

    if (auto name = json.find("name"); name != json.end() && name->is_string()) {
        mouse.name = name->get<std::string>();
    }

    if (auto connection = json.find("connection"); connection != json.end()) {
        if (!connection->is_string() ||
            (*connection != "bluetooth" && *connection != "usb" && *connection != "receiver")) {
            return FieldError{"connection", "expected \"bluetooth\", \"usb\" or \"receiver\""};
        }
        mouse.connection = connection->get<std::string>();
    }
    // A mouse paired to a receiver answers at its pairing slot (1 unless the recording says).
    if (json.contains("deviceIndex")) {
        if (mouse.connection != "receiver") {
            return FieldError{"deviceIndex", "only a mouse paired to a receiver (\"connection\": "
                                             "\"receiver\") has a slot"};
        }
        auto slot = numberField(json, "", "deviceIndex", VirtualMouseDescription::lastReceiverSlot);
        if (!slot) return slot.error();
        if (*slot == 0) {
            return FieldError{"deviceIndex",
                              fmt::format("expected a receiver slot from 1 to {}",
                                          VirtualMouseDescription::lastReceiverSlot)};
        }
        mouse.deviceIndex = static_cast<std::uint8_t>(*slot);
    } else if (mouse.connection == "receiver") {
        mouse.deviceIndex = 1;
    }

    if (json.contains("vendorID")) {
        auto vendor = hexField(json, "", "vendorID", 0xFFFF);
        if (!vendor) return vendor.error();
        mouse.vendorID = static_cast<std::uint16_t>(*vendor);
    }
    if (json.contains("productID")) {
        auto product = hexField(json, "", "productID", 0xFFFF);
        if (!product) return product.error();
        mouse.productID = static_cast<std::uint16_t>(*product);
    }

    if (auto protocol = json.find("protocol"); protocol != json.end()) {
        unsigned major = 0;
        unsigned minor = 0;
        char dot = 0;
        std::istringstream text(protocol->is_string() ? protocol->get<std::string>() : "");
        if (!(text >> major >> dot >> minor) || dot != '.' || major < 2 || major > 0xFF ||
            minor > 0xFF || !text.eof()) {
            return FieldError{"protocol", "expected a HID++ 2.0 or later version such as \"4.5\""};
        }
        mouse.protocolMajor = static_cast<std::uint8_t>(major);
        mouse.protocolMinor = static_cast<std::uint8_t>(minor);
    }

    auto features = member(json, "", "features");
    if (!features) return features.error();
    if (!(*features)->is_array() || (*features)->empty()) {
        return FieldError{"features", "expected a list that starts with the root feature"};
    }
    if ((*features)->size() > 0xFF) {
        return FieldError{"features", "a device has at most 255 features (the index is a byte)"};
    }
    for (std::size_t i = 0; i < (*features)->size(); ++i) {
        auto feature = readFeature((**features)[i], i);
        if (!feature) return feature.error();
        const auto duplicate =
            std::find_if(mouse.features.begin(), mouse.features.end(),
                         [&](const auto& known) { return known.id == feature->id; });
        if (duplicate != mouse.features.end()) {
            return FieldError{fmt::format("features[{}].id", i),
                              fmt::format("0x{:04X} is already listed at index {}", feature->id,
                                          duplicate - mouse.features.begin())};
        }
        mouse.features.push_back(*feature);
    }
    if (mouse.features.front().id != VirtualMouseDescription::rootFeature) {
        return FieldError{"features[0].id", "index 0 must be the root feature 0x0000"};
    }

    if (auto controls = json.find("controls"); controls != json.end()) {
        if (!controls->is_array()) return FieldError{"controls", "expected a list"};
        if (controls->size() > 0xFF) {
            return FieldError{"controls",
                              "a device has at most 255 controls (the count is a byte)"};
        }
        for (std::size_t i = 0; i < controls->size(); ++i) {
            auto control = readControl((*controls)[i], i);
            if (!control) return control.error();
            // A control listed twice would be answered for twice; the host could not tell the
            // two apart, so such a recording describes no real device.
            const auto duplicate =
                std::find_if(mouse.controls.begin(), mouse.controls.end(),
                             [&](const auto& known) { return known.cid == control->cid; });
            if (duplicate != mouse.controls.end()) {
                return FieldError{fmt::format("controls[{}].cid", i),
                                  fmt::format("control 0x{:02X} is already listed at index {}",
                                              control->cid, duplicate - mouse.controls.begin())};
            }
            mouse.controls.push_back(*control);
        }
    }
    const bool hasReprog = mouse.indexOf(VirtualMouseDescription::reprogControlsFeature) != 0;
    if (!mouse.controls.empty() && !hasReprog) {
        return FieldError{"controls",
                          "the device lists controls but its feature table lacks 0x1B04"};
    }

    const bool tableHasWheel = mouse.indexOf(VirtualMouseDescription::thumbWheelFeature) != 0;
    if (auto wheel = json.find("thumbWheel"); wheel != json.end()) {
        if (!wheel->is_boolean()) return FieldError{"thumbWheel", "expected true or false"};
        if (wheel->get<bool>() != tableHasWheel) {
            return FieldError{"thumbWheel", tableHasWheel
                                                ? "is false, but the feature table holds 0x2150"
                                                : "is true, but the feature table lacks 0x2150"};
        }
    }
    if (tableHasWheel) mouse.thumbWheel = VirtualMouseDescription::ThumbWheel{};
    return mouse;
}

}  // namespace

std::uint8_t VirtualMouseDescription::indexOf(std::uint16_t featureId) const {
    for (std::size_t i = 1; i < features.size() && i <= 0xFF; ++i) {
        if (features[i].id == featureId) return static_cast<std::uint8_t>(i);
    }
    return 0;
}

VirtualMouseDescription VirtualMouseDescription::basic(std::vector<Control> controls,
                                                       bool thumbWheel) {
    VirtualMouseDescription mouse;
    mouse.name = "Virtual mouse";
    mouse.features = {{rootFeature, 0}, {0x0001, 0}, {0x0005, 0}};
    if (!controls.empty()) mouse.features.push_back({reprogControlsFeature, 0});
    mouse.features.push_back({wirelessStatusFeature, 0});
    if (thumbWheel) {
        mouse.features.push_back({thumbWheelFeature, 0});
        mouse.thumbWheel = ThumbWheel{};
    }
    mouse.controls = std::move(controls);
    return mouse;
}

Result<VirtualMouseDescription, std::string> parseVirtualMouse(const std::string& text,
                                                               const std::string& origin) {
    Json json = Json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (json.is_discarded()) return origin + ": not valid JSON";
    auto mouse = readMouse(json);
    if (!mouse) return origin + ": " + mouse.error().path + ": " + mouse.error().message;
    return std::move(*mouse);
}

Result<VirtualMouseDescription, std::string> loadVirtualMouse(const std::string& path) {
    // As the settings file is read: a device or FIFO under the name is refused without reading
    // from it, and so is a file over the size limit.
    auto text = files::read(path);
    if (!text) return path + ": " + text.error().description;
    return parseVirtualMouse(*text, path);
}

Result<std::vector<std::string>, std::string> recordedMouseFiles(const std::string& folder) {
    std::error_code error;
    std::filesystem::directory_iterator entries(folder, error);
    if (error) return folder + ": cannot be listed (" + error.message() + ")";
    std::vector<std::string> files;
    for (; entries != std::filesystem::directory_iterator(); entries.increment(error)) {
        if (entries->path().extension() == ".json") files.push_back(entries->path().string());
    }
    if (error) return folder + ": cannot be listed (" + error.message() + ")";
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<std::string> recordedMiceFolderCandidates(const std::string& program) {
    const std::filesystem::path folder = std::filesystem::path(program).parent_path();
    const std::filesystem::path data = std::filesystem::path("share") / "tindlewave" / "devices";
    return {(folder / data).string(), (folder.parent_path() / data).string()};
}

Result<std::string, MissingRecordings> shippedRecordedMiceFolder() {
    std::error_code error;
    const auto program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        return MissingRecordings{"cannot find the running program (/proc/self/exe: " +
                                 error.message() + ")"};
    }
    const auto candidates = recordedMiceFolderCandidates(program.string());
    for (const auto& candidate : candidates) {
        if (std::filesystem::is_directory(candidate, error)) return candidate;
    }
    return MissingRecordings{
        fmt::format("no recorded mice beside the program: neither {} nor {} is a folder",
                    candidates[0], candidates[1])};
}

}  // namespace tindlewave
