#include "TestKit/Umockdev/Fixtures.h"

#include <algorithm>
#include <cstdio>

#include "TestKit/ReportDescriptorBuilder.h"

namespace tindlewave::testkit::umockdev {

namespace {

constexpr unsigned hidrawMajor = 240;
constexpr unsigned inputMajor = 13;

std::string hex4(unsigned value, bool upper) {
    char text[8];
    std::snprintf(text, sizeof text, upper ? "%04X" : "%04x", value & 0xFFFF);
    return text;
}

// "0003:046D:C52B.0003", the name the kernel gives a hid device.
std::string hidName(unsigned bus, unsigned vendor, unsigned product, int n) {
    return hex4(bus, true) + ":" + hex4(vendor, true) + ":" + hex4(product, true) + "." +
           hex4(unsigned(n), true);
}

// "0005:0000046D:0000B023", the udev property HID_ID.
std::string hidID(unsigned bus, unsigned vendor, unsigned product) {
    char text[32];
    std::snprintf(text, sizeof text, "%04X:%08X:%08X", bus, vendor, product);
    return text;
}

struct Ids {
    unsigned bus, vendor, product;
    std::string name, phys, uniq;
};

// The hid device, its hidraw node, its input device and event node.
void addHid(FixtureDevice& out, const std::string& path, const Ids& ids, const std::string& driver,
            const std::vector<std::uint8_t>& descriptor, int n) {
    out.interface = path;
    out.devices.push_back(DeviceText(path)
                              .subsystem("hid")
                              .driver(driver)
                              .property("HID_ID", hidID(ids.bus, ids.vendor, ids.product))
                              .property("HID_NAME", ids.name)
                              .property("HID_PHYS", ids.phys)
                              .property("HID_UNIQ", ids.uniq)
                              .property("MODALIAS", "hid:b" + hex4(ids.bus, true) + "g0001v0000" +
                                                        hex4(ids.vendor, true) + "p0000" +
                                                        hex4(ids.product, true))
                              .binaryAttribute("report_descriptor", descriptor));
    out.hidrawPath = path + "/hidraw/hidraw" + std::to_string(n);
    out.hidraw = "/dev/hidraw" + std::to_string(n);
    out.devices.push_back(DeviceText(out.hidrawPath)
                              .subsystem("hidraw")
                              .characterNode("hidraw" + std::to_string(n), hidrawMajor, unsigned(n))
                              .link("device", "../../../" + path.substr(path.rfind('/') + 1)));
}

struct InputKind {
    std::string idProperty;  // ID_INPUT_MOUSE and so on
    std::string ev, key, rel, abs, msc, led, properties;
};

const InputKind mouseKind{"ID_INPUT_MOUSE", "17", "ff0000 0 0 0 0", "1943", "0", "10", "0", "0"};
const InputKind keyboardKind{"ID_INPUT_KEYBOARD", "120013",
                             "1000000000007 ff9f207ac14057ff febeffdfffefffff fffffffffffffffe",
                             "0", "0", "10", "7", "0"};
const InputKind touchpadKind{"ID_INPUT_TOUCHPAD", "b", "e520 10000 0 0 0 0", "0",
                             "660800011000003", "0", "0", "5"};

void addInput(FixtureDevice& out, const std::string& parent, const Ids& ids, const InputKind& kind,
              int n) {
    int number = 20 + n;
    out.input = parent + "/input/input" + std::to_string(number);
    std::string product = hex4(ids.product, false);
    out.devices.push_back(DeviceText(out.input)
                              .subsystem("input")
                              .property("NAME", "\"" + ids.name + "\"")
                              .property("PHYS", "\"" + ids.phys + "\"")
                              .property("UNIQ", "\"" + ids.uniq + "\"")
                              .property("ID_INPUT", "1")
                              .property(kind.idProperty, "1")
                              .attribute("name", ids.name)
                              .attribute("phys", ids.phys)
                              .attribute("uniq", ids.uniq)
                              .attribute("id/bustype", hex4(ids.bus, false))
                              .attribute("id/vendor", hex4(ids.vendor, false))
                              .attribute("id/product", product)
                              .attribute("id/version", "0111")
                              .attribute("capabilities/ev", kind.ev)
                              .attribute("capabilities/key", kind.key)
                              .attribute("capabilities/rel", kind.rel)
                              .attribute("capabilities/abs", kind.abs)
                              .attribute("capabilities/msc", kind.msc)
                              .attribute("capabilities/led", kind.led)
                              .attribute("properties", kind.properties));
    out.eventPath = out.input + "/event" + std::to_string(n);
    out.event = "/dev/input/event" + std::to_string(n);
    out.devices.push_back(DeviceText(out.eventPath)
                              .subsystem("input")
                              .characterNode("input/event" + std::to_string(n), inputMajor,
                                             64u + unsigned(n))
                              .property("ID_INPUT", "1")
                              .property(kind.idProperty, "1"));
}

const std::string usbRoot = "/devices/pci0000:00/0000:00:14.0/usb1";

// A USB device on bus 1 at `port` and its HID interface `number`.
std::string addUsb(FixtureDevice& out, int port, unsigned vendor, unsigned product,
                   const std::string& name, const std::string& removable, int number) {
    std::string device = usbRoot + "/1-" + std::to_string(port);
    out.devices.push_back(DeviceText(device)
                              .subsystem("usb", "usb_device")
                              .driver("usb")
                              .attribute("busnum", "1")
                              .attribute("devnum", std::to_string(port + 1))
                              .attribute("devpath", std::to_string(port))
                              .attribute("idVendor", hex4(vendor, false))
                              .attribute("idProduct", hex4(product, false))
                              .attribute("product", name)
                              .attribute("removable", removable));
    std::string interface = device + "/1-" + std::to_string(port) + ":1." + std::to_string(number);
    out.devices.push_back(DeviceText(interface)
                              .subsystem("usb", "usb_interface")
                              .driver("usbhid")
                              .attribute("bInterfaceClass", "03")
                              .attribute("bInterfaceNumber", "0" + std::to_string(number)));
    return interface;
}

ReportDescriptorBuilder& mouseCollection(ReportDescriptorBuilder& d) {
    return d.usagePage(0x01).usage(0x02).application()
        .reportID(0x02).usage(0x01).physical()
        .usagePage(0x09).usageRange(1, 16).logical(0, 1).reportSize(1).reportCount(16).input()
        .usagePage(0x01).logical(-2047, 2047).reportSize(12).reportCount(2)
        .usage(0x30).usage(0x31).input(0x06)
        .logical(-127, 127).reportSize(8).reportCount(1).usage(0x38).input(0x06)
        .usagePage(0x0C).item(0x08, 0x0238).reportCount(1).input(0x06)
        .end().end();
}

ReportDescriptorBuilder& vendorCollection(ReportDescriptorBuilder& d, unsigned page,
                                          unsigned usage, std::uint8_t id, unsigned bytes) {
    return d.usagePage(page).usage(usage).application()
        .reportID(id).logical(0, 255).usage(usage).bytesIn(bytes).usage(usage).bytesOut(bytes)
        .end();
}

}  // namespace

std::vector<std::string> FixtureDevice::removalOrder() const {
    std::vector<std::string> paths;
    for (const auto& device : devices) paths.push_back(device.path());
    std::reverse(paths.begin(), paths.end());
    return paths;
}

std::vector<std::uint8_t> mouseDescriptor() {
    ReportDescriptorBuilder d;
    return mouseCollection(d).bytes();
}

std::vector<std::uint8_t> bluetoothHidppMouseDescriptor() {
    ReportDescriptorBuilder d;
    mouseCollection(d);
    return vendorCollection(d, 0xFF43, 0x0202, 0x11, 19).bytes();
}

std::vector<std::uint8_t> pairedMouseDescriptor() {
    ReportDescriptorBuilder d;
    mouseCollection(d);
    vendorCollection(d, 0xFF00, 0x01, 0x10, 6);
    return vendorCollection(d, 0xFF00, 0x02, 0x11, 19).bytes();
}

std::vector<std::uint8_t> receiverDescriptor() {
    ReportDescriptorBuilder d;
    vendorCollection(d, 0xFF00, 0x01, 0x10, 6);
    vendorCollection(d, 0xFF00, 0x02, 0x11, 19);
    return d.usagePage(0xFF00).usage(0x04).application()
        .reportID(0x20).logical(0, 255).usage(0x41).bytesIn(14).usage(0x41).bytesOut(14)
        .reportID(0x21).usage(0x42).bytesIn(31).usage(0x42).bytesOut(31)
        .end().bytes();
}

std::vector<std::uint8_t> keyboardDescriptor() {
    ReportDescriptorBuilder d;
    return d.usagePage(0x01).usage(0x06).application()
        .usagePage(0x07).usageRange(0xE0, 0xE7).logical(0, 1).reportSize(1).reportCount(8).input()
        .reportSize(8).reportCount(1).input(0x01)
        .usagePage(0x08).usageRange(1, 5).reportSize(1).reportCount(5).output()
        .reportSize(3).reportCount(1).output(0x01)
        .usagePage(0x07).usageRange(0, 0x65).logical(0, 0x65).reportSize(8).reportCount(6)
        .input(0x00)
        .end().bytes();
}

FixtureDevice bluetoothHidppMouse(int n, const HidppMouseIds& ids) {
    FixtureDevice out;
    Ids hid{0x0005, 0x046D, ids.productID, ids.name, "8c:4f:22:11:05:aa", ids.address};
    std::string path = "/devices/virtual/misc/uhid/" + hidName(0x0005, 0x046D, ids.productID, n);
    addHid(out, path, hid, "hid-generic", bluetoothHidppMouseDescriptor(), n);
    addInput(out, path, hid, mouseKind, n);
    return out;
}

ReceiverFixture receiverWithPairedMouse(int n, int slot, std::uint16_t mouseProductID,
                                        const std::string& mouseName) {
    ReceiverFixture out;
    std::string interface = addUsb(out.receiver, 2, 0x046D, 0xC52B, "USB Receiver", "removable", 2);
    Ids hid{0x0003, 0x046D, 0xC52B, "USB Receiver", "usb-0000:00:14.0-2/input2", ""};
    addHid(out.receiver, interface + "/" + hidName(0x0003, 0x046D, 0xC52B, n), hid,
           "logitech-djreceiver", receiverDescriptor(), n);
    out.paired = pairedMouse(out.receiver, n + 1, slot, mouseProductID, mouseName);
    return out;
}

FixtureDevice pairedMouse(const FixtureDevice& receiver, int n, int slot, std::uint16_t productID,
                          const std::string& name) {
    FixtureDevice out;
    Ids hid{0x0003, 0x046D, productID, name,
            "usb-0000:00:14.0-2/input2:" + std::to_string(slot), ""};
    std::string path = receiver.interface + "/" + hidName(0x0003, 0x046D, productID, n);
    addHid(out, path, hid, "logitech-hidpp-device", pairedMouseDescriptor(), n);
    addInput(out, path, hid, mouseKind, n);
    return out;
}

FixtureDevice usbMouse(int n) {
    FixtureDevice out;
    std::string interface = addUsb(out, 4, 0x1234, 0x5678, "Test USB Mouse", "removable", 0);
    Ids hid{0x0003, 0x1234, 0x5678, "Test USB Mouse", "usb-0000:00:14.0-4/input0", ""};
    std::string path = interface + "/" + hidName(0x0003, 0x1234, 0x5678, n);
    addHid(out, path, hid, "hid-generic", mouseDescriptor(), n);
    addInput(out, path, hid, mouseKind, n);
    return out;
}

FixtureDevice usbKeyboard(int n) {
    FixtureDevice out;
    std::string interface = addUsb(out, 3, 0x3412, 0x7801, "Test Keyboard", "removable", 0);
    Ids hid{0x0003, 0x3412, 0x7801, "Test Keyboard", "usb-0000:00:14.0-3/input0", ""};
    std::string path = interface + "/" + hidName(0x0003, 0x3412, 0x7801, n);
    addHid(out, path, hid, "hid-generic", keyboardDescriptor(), n);
    addInput(out, path, hid, keyboardKind, n);
    return out;
}

FixtureDevice ps2Keyboard(int n) {
    FixtureDevice out;
    std::string serio = "/devices/platform/i8042/serio0";
    out.devices.push_back(DeviceText(serio).subsystem("serio").driver("atkbd"));
    Ids ids{0x0011, 0x0001, 0x0001, "AT Translated Set 2 keyboard", "isa0060/serio0/input0", ""};
    addInput(out, serio, ids, keyboardKind, n);
    out.interface = out.input;
    return out;
}

FixtureDevice ps2Touchpad(int n) {
    FixtureDevice out;
    std::string serio = "/devices/platform/i8042/serio1";
    out.devices.push_back(DeviceText(serio).subsystem("serio").driver("psmouse"));
    Ids ids{0x0011, 0x0002, 0x0007, "PS/2 Generic Touch Pad", "isa0060/serio1/input0", ""};
    addInput(out, serio, ids, touchpadKind, n);
    out.interface = out.input;
    return out;
}

FixtureDevice unrelatedDevice(int n) {
    FixtureDevice out;
    std::string interface = addUsb(out, 4, 0x2E8A, 0x1001, "Test Power Supply", "removable", 0);
    Ids hid{0x0003, 0x2E8A, 0x1001, "Test Power Supply", "usb-0000:00:14.0-4/input0", ""};
    ReportDescriptorBuilder d;
    d.usagePage(0x84).usage(0x04).application()
        .reportID(0x01).usage(0x30).logical(0, 255).bytesIn(2)
        .reportID(0x02).usage(0x40).reportSize(8).reportCount(2).feature()
        .end();
    addHid(out, interface + "/" + hidName(0x0003, 0x2E8A, 0x1001, n), hid, "hid-generic",
           d.bytes(), n);
    return out;
}

FixtureDevice uinputNode() {
    FixtureDevice out;
    out.devices.push_back(
        DeviceText("/devices/virtual/misc/uinput").subsystem("misc").characterNode("uinput", 10, 223));
    out.interface = "/devices/virtual/misc/uinput";
    return out;
}

FixtureDevice ownVirtualDevice(int n, const std::string& name) {
    FixtureDevice out;
    Ids ids{0x0006, 0x0000, 0x0000, name, "tindlewave/" + std::to_string(n), ""};
    addInput(out, "/devices/virtual", ids, mouseKind, n);
    out.interface = out.input;
    return out;
}

}  // namespace tindlewave::testkit::umockdev
