#pragma once

// The emulation's text form of a device tree, built in code: one DeviceText per sysfs device, its
// udev properties (E:), attributes (A:, binary H:), links (L:) and /dev node (N:).

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace tindlewave::testkit::umockdev {

class DeviceText {
  public:
    // `path` is the device's sysfs path below /sys ("/devices/virtual/misc/uhid/…").
    explicit DeviceText(std::string path) : path_(std::move(path)) {}

    // The udev property SUBSYSTEM (and DEVTYPE when given).
    DeviceText& subsystem(const std::string& name, const std::string& devtype = "");
    // The bound driver: the property DRIVER and the "driver" link libudev reads (into the bus of
    // the subsystem given before).
    DeviceText& driver(const std::string& name);
    DeviceText& property(const std::string& key, const std::string& value);
    DeviceText& attribute(const std::string& name, const std::string& value);
    DeviceText& binaryAttribute(const std::string& name, const std::vector<std::uint8_t>& bytes);
    DeviceText& link(const std::string& name, const std::string& target);
    // A character node "/dev/<name>" (name such as "hidraw0" or "input/event3") with its device
    // number; the emulation makes it a pseudo-terminal whose other end the test holds.
    DeviceText& characterNode(const std::string& name, unsigned major, unsigned minor);

    const std::string& path() const { return path_; }
    std::string text() const;

  private:
    std::string path_;
    std::string subsystem_;
    std::string node_;
    std::vector<std::string> lines_;
};

// Devices in the order given (parents before their children), as one text for Testbed::add.
std::string fixtureText(const std::vector<DeviceText>& devices);

// Lower-case hex without separators, as sysfs binary attributes are written in the text form.
std::string hexText(const std::vector<std::uint8_t>& bytes);

}  // namespace tindlewave::testkit::umockdev
