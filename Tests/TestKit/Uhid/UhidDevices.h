#pragma once

// The devices the kernel tier makes through /dev/uhid: a USB boot keyboard (hid-generic), a
// Bluetooth Low Energy HID++ mouse whose HID++ answers come from a VirtualHidppMouse (the kernel's
// HID++ driver takes it when its product is in that driver's table, as 0xB023 is, else
// hid-generic), and a receiver (the kernel's receiver driver, DJ protocol) with one paired HID++
// mouse, whose node the receiver driver makes.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "Core/Instant.h"
#include "Platform/Simulated/HID/VirtualHidppMouse.h"
#include "TestKit/Uhid/UhidDevice.h"

namespace tindlewave::testkit::uhid {

// Report descriptors of real devices: a USB boot keyboard (no report ids, 8-byte reports, the 101
// keys up to Application: no F13 or above, as most keyboards), a
// Bluetooth Low Energy HID++ mouse (mouse report 2: 16 buttons, 12-bit X and Y, wheel, pan; HID++
// long report 0x11 on page 0xFF43), and a receiver's HID++ interface (HID++ short 0x10 and long
// 0x11, DJ short 0x20 and long 0x21 on page 0xFF00).
std::vector<std::uint8_t> bootKeyboardDescriptor();
std::vector<std::uint8_t> bluetoothHidppMouseDescriptor();
std::vector<std::uint8_t> receiverDescriptor();

// The native mouse report both mice send (report 2 of the mouse descriptor, without its id).
std::vector<std::uint8_t> mouseReport(std::uint16_t buttons, int dx, int dy, int wheel);

class UsbKeyboard {
  public:
    static std::unique_ptr<UsbKeyboard> create(const std::string& name, std::uint16_t vendor,
                                               std::uint16_t product, std::string& error);
    // A key by its HID usage on the keyboard page (0x39 Caps Lock, 0x04 A; 0xE0–0xE7 modifiers).
    bool press(std::uint8_t usage);
    bool release(std::uint8_t usage);
    // Every key up.
    bool releaseAll();

  private:
    bool sendState();
    std::mutex mutex_;
    std::set<std::uint8_t> down_;
    std::unique_ptr<UhidDevice> device_;
};

// The HID++ side shared by the mouse and the receiver: a virtual mouse answering the long reports
// written to it (short requests are taken as long ones: kernel drivers send short ones where the
// descriptor has them), counting what came from kernel drivers and what from node writers.
class HidppAnswerer {
  public:
    explicit HidppAnswerer(VirtualMouseDescription description);

    // A request for the mouse: its replies, due now.
    std::vector<VirtualHidppMouse::Report> answer(std::span<const std::uint8_t> report, bool setReport);
    // Acts the mouse out; what it sends, due now.
    std::vector<VirtualHidppMouse::Report> act(
        const std::function<void(VirtualHidppMouse&, Instant)>& action);
    template <class F>
    auto read(F&& reader) {
        std::lock_guard lock(mutex_);
        return reader(static_cast<const VirtualHidppMouse&>(mouse_));
    }
    int kernelRequests() const;
    int programRequests() const;

  private:
    mutable std::mutex mutex_;
    VirtualHidppMouse mouse_;
    int kernelRequests_ = 0;
    int programRequests_ = 0;
};

class BluetoothHidppMouse {
  public:
    // `description` from a recording; `product` picks the kernel driver (0xB023: the HID++ driver,
    // 0xB025: hid-generic in 6.1).
    static std::unique_ptr<BluetoothHidppMouse> create(VirtualMouseDescription description,
                                                       const std::string& name,
                                                       std::uint16_t product, std::string& error);
    HidppAnswerer& hidpp() { return *hidpp_; }
    // Acts the mouse's HID++ side out and sends what it reports.
    void act(const std::function<void(VirtualHidppMouse&, Instant)>& action);
    // The native mouse report.
    bool report(std::uint16_t buttons, int dx, int dy, int wheel);

  private:
    std::unique_ptr<HidppAnswerer> hidpp_;
    std::unique_ptr<UhidDevice> device_;
};

class Receiver {
  public:
    // A receiver of product `product` (0xC52B: a DJ receiver) with `paired` (its deviceIndex is
    // the slot, 1–6) paired under wireless product id `wirelessProduct`.
    static std::unique_ptr<Receiver> create(VirtualMouseDescription paired,
                                            std::uint16_t wirelessProduct, std::uint16_t product,
                                            std::string& error);
    HidppAnswerer& hidpp() { return *hidpp_; }
    void act(const std::function<void(VirtualHidppMouse&, Instant)>& action);
    // The paired mouse's native mouse report, sent through the receiver as a DJ report.
    bool report(std::uint16_t buttons, int dx, int dy, int wheel);
    // What the receiver driver asked for, in order ("switch", "paired-devices", "register",
    // "pairing-info"), and the HID++ requests to the receiver itself that it refused.
    std::vector<std::string> receiverRequests() const;

  private:
    void handle(UhidDevice& device, std::span<const std::uint8_t> report, bool setReport);
    void sendAll(const std::vector<VirtualHidppMouse::Report>& reports);
    void note(std::string what);

    std::uint8_t slot_ = 1;
    std::uint16_t wirelessProduct_ = 0;
    std::string name_;
    std::unique_ptr<HidppAnswerer> hidpp_;
    std::unique_ptr<UhidDevice> device_;
    mutable std::mutex mutex_;
    std::vector<std::string> requests_;
};

}  // namespace tindlewave::testkit::uhid
