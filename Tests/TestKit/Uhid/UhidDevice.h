#pragma once

// A HID device made through the kernel's /dev/uhid: the kernel takes it up as it would a real one
// (its drivers bind by bus, vendor and product; hidraw and evdev nodes appear), and this side
// plays the device: it answers what the host sends and injects input reports.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace tindlewave::testkit::uhid {

struct UhidIdentity {
    std::string name;
    std::string phys;
    std::string uniq;
    std::uint16_t bus = 0x03;  // BUS_USB; 0x05 is BUS_BLUETOOTH
    std::uint32_t vendor = 0;
    std::uint32_t product = 0;
    std::uint32_t version = 0;
    std::vector<std::uint8_t> descriptor;
};

class UhidDevice {
  public:
    // What the host sent: an output report written on a node (UHID_OUTPUT, `setReport` false) or a
    // SET_REPORT request, which is how kernel drivers send (already answered with success). It is
    // called on the device's own thread, which starts before `create` returns (a driver may ask at
    // once), and answers through the device it is given. GET_REPORT requests fail with EIO.
    using Handler =
        std::function<void(UhidDevice& device, std::span<const std::uint8_t> report, bool setReport)>;

    // The device, created; null with `error` set when /dev/uhid cannot be opened or written.
    static std::unique_ptr<UhidDevice> create(const UhidIdentity& identity, Handler handler,
                                              std::string& error);
    // Destroys the device (its nodes go) and stops its thread.
    ~UhidDevice();
    UhidDevice(const UhidDevice&) = delete;
    UhidDevice& operator=(const UhidDevice&) = delete;

    // One input report, from any thread; false when the kernel refused it.
    bool input(std::span<const std::uint8_t> report);

    // The kernel has started the device (a driver took it) / some opener has it open.
    bool started() const { return started_; }
    bool opened() const { return opened_; }

  private:
    UhidDevice(int fd, int stop, Handler handler);
    void run();

    int fd_;
    int stop_;
    Handler handler_;
    std::atomic<bool> started_{false};
    std::atomic<bool> opened_{false};
    std::thread thread_;
};

}  // namespace tindlewave::testkit::uhid
