#include "TestKit/Umockdev/FixtureText.h"

namespace tindlewave::testkit::umockdev {

std::string hexText(const std::vector<std::uint8_t>& bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    for (auto byte : bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 0xF];
    }
    return text;
}

DeviceText& DeviceText::subsystem(const std::string& name, const std::string& devtype) {
    subsystem_ = name;
    property("SUBSYSTEM", name);
    if (!devtype.empty()) property("DEVTYPE", devtype);
    return *this;
}

DeviceText& DeviceText::driver(const std::string& name) {
    std::string up;  // from the device's folder back to /sys
    for (char c : path_)
        if (c == '/') up += "../";
    property("DRIVER", name);
    return link("driver", up + "bus/" + subsystem_ + "/drivers/" + name);
}

DeviceText& DeviceText::property(const std::string& key, const std::string& value) {
    lines_.push_back("E: " + key + "=" + value);
    return *this;
}

DeviceText& DeviceText::attribute(const std::string& name, const std::string& value) {
    lines_.push_back("A: " + name + "=" + value);
    return *this;
}

DeviceText& DeviceText::binaryAttribute(const std::string& name,
                                        const std::vector<std::uint8_t>& bytes) {
    lines_.push_back("H: " + name + "=" + hexText(bytes));
    return *this;
}

DeviceText& DeviceText::link(const std::string& name, const std::string& target) {
    lines_.push_back("L: " + name + "=" + target);
    return *this;
}

DeviceText& DeviceText::characterNode(const std::string& name, unsigned major, unsigned minor) {
    node_ = name;
    property("DEVNAME", "/dev/" + name);
    property("MAJOR", std::to_string(major));
    property("MINOR", std::to_string(minor));
    attribute("dev", std::to_string(major) + ":" + std::to_string(minor));
    return *this;
}

std::string DeviceText::text() const {
    std::string text = "P: " + path_ + "\n";
    if (!node_.empty()) text += "N: " + node_ + "\n";
    for (const auto& line : lines_) text += line + "\n";
    return text;
}

std::string fixtureText(const std::vector<DeviceText>& devices) {
    std::string text;
    for (const auto& device : devices) text += device.text() + "\n";
    return text;
}

}  // namespace tindlewave::testkit::umockdev
