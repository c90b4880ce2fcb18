#include "TestKit/Uhid/UhidDevices.h"

#include <algorithm>
#include <cstdio>

#include "Platform/Clock.h"

namespace tindlewave::testkit::uhid {
namespace {

std::vector<std::uint8_t> fromHex(const char* hex) {
    std::vector<std::uint8_t> bytes;
    for (const char* p = hex; p[0] && p[1]; p += 2) {
        unsigned value = 0;
        std::sscanf(p, "%2x", &value);
        bytes.push_back(static_cast<std::uint8_t>(value));
    }
    return bytes;
}

constexpr std::uint8_t hidppShort = 0x10;
constexpr std::uint8_t hidppLong = 0x11;
constexpr std::uint8_t djShort = 0x20;
constexpr std::size_t djShortLength = 15;
constexpr std::uint8_t receiverIndex = 0xFF;

}  // namespace

std::vector<std::uint8_t> bootKeyboardDescriptor() {
    return fromHex(
        "05010906a101050719e029e7150025017501950881027508950181031900296515002565750895068100"
        "05081901290315002501750195039102750595019103c0");
}

std::vector<std::uint8_t> bluetoothHidppMouseDescriptor() {
    return fromHex(
        "05010902a10185020901a1009510750115002501050919012910810205011601f826ff07750c9502093009"
        "3181061581257f75089501093881069501050c0a38028106c0c00643ff0a0202a101851175089513150026"
        "ff000902810009029100c0");
}

std::vector<std::uint8_t> receiverDescriptor() {
    return fromHex(
        "0600ff0901a101851075089506150026ff000901810009019100c0"
        "0600ff0902a101851175089513150026ff000902810009029100c0"
        "0600ff0904a10185207508950e150026ff000941810009419100"
        "8521951f150026ff000942810009429100c0");
}

std::vector<std::uint8_t> mouseReport(std::uint16_t buttons, int dx, int dy, int wheel) {
    auto x = static_cast<std::uint16_t>(std::clamp(dx, -2047, 2047)) & 0x0FFF;
    auto y = static_cast<std::uint16_t>(std::clamp(dy, -2047, 2047)) & 0x0FFF;
    return {static_cast<std::uint8_t>(buttons), static_cast<std::uint8_t>(buttons >> 8),
            static_cast<std::uint8_t>(x), static_cast<std::uint8_t>((x >> 8) | ((y & 0x0F) << 4)),
            static_cast<std::uint8_t>(y >> 4),
            static_cast<std::uint8_t>(static_cast<std::int8_t>(std::clamp(wheel, -127, 127))), 0};
}

// --- keyboard

std::unique_ptr<UsbKeyboard> UsbKeyboard::create(const std::string& name, std::uint16_t vendor,
                                                 std::uint16_t product, std::string& error) {
    std::unique_ptr<UsbKeyboard> keyboard(new UsbKeyboard);
    UhidIdentity identity{name, "usb-0000:00:14.0-1/input0", "", 0x03, vendor, product, 0x0111,
                          bootKeyboardDescriptor()};
    keyboard->device_ = UhidDevice::create(identity, [](UhidDevice&, auto, bool) {}, error);
    if (!keyboard->device_) return nullptr;
    return keyboard;
}

bool UsbKeyboard::press(std::uint8_t usage) {
    std::lock_guard lock(mutex_);
    down_.insert(usage);
    return sendState();
}

bool UsbKeyboard::release(std::uint8_t usage) {
    std::lock_guard lock(mutex_);
    down_.erase(usage);
    return sendState();
}

bool UsbKeyboard::releaseAll() {
    std::lock_guard lock(mutex_);
    down_.clear();
    return sendState();
}

bool UsbKeyboard::sendState() {
    std::vector<std::uint8_t> report(8, 0);
    std::size_t at = 2;
    for (auto usage : down_) {
        if (usage >= 0xE0 && usage <= 0xE7)
            report[0] |= static_cast<std::uint8_t>(1u << (usage - 0xE0));
        else if (at < report.size())
            report[at++] = usage;
    }
    return device_->input(report);
}

// --- HID++ answers

HidppAnswerer::HidppAnswerer(VirtualMouseDescription description) : mouse_(std::move(description)) {
    mouse_.replyLatency = Duration::zero();
}

std::vector<VirtualHidppMouse::Report> HidppAnswerer::answer(std::span<const std::uint8_t> report,
                                                             bool setReport) {
    if (report.size() < 4 || (report[0] != hidppShort && report[0] != hidppLong)) return {};
    std::vector<std::uint8_t> request(report.begin(), report.end());
    request[0] = hidppLong;
    request.resize(20, 0);
    std::lock_guard lock(mutex_);
    ++(setReport ? kernelRequests_ : programRequests_);
    const Instant now = SystemClock::shared().now();
    mouse_.write(request, now);
    return mouse_.takeReports(now);
}

std::vector<VirtualHidppMouse::Report> HidppAnswerer::act(
    const std::function<void(VirtualHidppMouse&, Instant)>& action) {
    std::lock_guard lock(mutex_);
    const Instant now = SystemClock::shared().now();
    action(mouse_, now);
    return mouse_.takeReports(now);
}

int HidppAnswerer::kernelRequests() const {
    std::lock_guard lock(mutex_);
    return kernelRequests_;
}

int HidppAnswerer::programRequests() const {
    std::lock_guard lock(mutex_);
    return programRequests_;
}

// --- Bluetooth mouse

std::unique_ptr<BluetoothHidppMouse> BluetoothHidppMouse::create(VirtualMouseDescription description,
                                                                 const std::string& name,
                                                                 std::uint16_t product,
                                                                 std::string& error) {
    std::unique_ptr<BluetoothHidppMouse> mouse(new BluetoothHidppMouse);
    description.deviceIndex = receiverIndex;
    mouse->hidpp_ = std::make_unique<HidppAnswerer>(std::move(description));
    UhidIdentity identity{name, "00:11:22:33:44:55", "c0:ff:ee:00:00:01", 0x05, 0x046D, product,
                          0x0014, bluetoothHidppMouseDescriptor()};
    auto* raw = mouse.get();
    mouse->device_ = UhidDevice::create(
        identity,
        [raw](UhidDevice& device, std::span<const std::uint8_t> report, bool setReport) {
            for (const auto& reply : raw->hidpp_->answer(report, setReport)) device.input(reply);
        },
        error);
    if (!mouse->device_) return nullptr;
    return mouse;
}

void BluetoothHidppMouse::act(const std::function<void(VirtualHidppMouse&, Instant)>& action) {
    for (const auto& report : hidpp_->act(action)) device_->input(report);
}

bool BluetoothHidppMouse::report(std::uint16_t buttons, int dx, int dy, int wheel) {
    auto report = mouseReport(buttons, dx, dy, wheel);
    report.insert(report.begin(), 0x02);
    return device_->input(report);
}

// --- receiver

std::unique_ptr<Receiver> Receiver::create(VirtualMouseDescription paired,
                                           std::uint16_t wirelessProduct, std::uint16_t product,
                                           std::string& error) {
    std::unique_ptr<Receiver> receiver(new Receiver);
    receiver->slot_ = std::clamp<std::uint8_t>(paired.deviceIndex, 1, 6);
    paired.deviceIndex = receiver->slot_;
    receiver->name_ = paired.name;
    receiver->wirelessProduct_ = wirelessProduct;
    receiver->hidpp_ = std::make_unique<HidppAnswerer>(std::move(paired));
    UhidIdentity identity{"Logitech USB Receiver", "usb-0000:00:14.0-2/input2", "", 0x03, 0x046D,
                          product, 0x1203, receiverDescriptor()};
    auto* raw = receiver.get();
    receiver->device_ = UhidDevice::create(
        identity,
        [raw](UhidDevice& device, std::span<const std::uint8_t> report, bool setReport) {
            raw->handle(device, report, setReport);
        },
        error);
    if (!receiver->device_) return nullptr;
    return receiver;
}

void Receiver::note(std::string what) {
    std::lock_guard lock(mutex_);
    requests_.push_back(std::move(what));
}

std::vector<std::string> Receiver::receiverRequests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

void Receiver::sendAll(const std::vector<VirtualHidppMouse::Report>& reports) {
    for (const auto& report : reports) device_->input(report);
}

void Receiver::handle(UhidDevice& device, std::span<const std::uint8_t> report, bool setReport) {
    if (report.size() < 4) return;
    const std::uint8_t id = report[0], index = report[1];
    if (id == djShort && index == receiverIndex) {
        std::vector<std::uint8_t> notice(djShortLength, 0);
        if (report[2] == 0x80) {
            note("switch");  // to DJ mode: nothing to answer
        } else if (report[2] == 0x81) {
            note("paired-devices");
            // Device paired: special function 0, the wireless product id, the reports it sends
            // (a standard mouse).
            notice[0] = djShort;
            notice[1] = slot_;
            notice[2] = 0x41;
            notice[4] = static_cast<std::uint8_t>(wirelessProduct_);
            notice[5] = static_cast<std::uint8_t>(wirelessProduct_ >> 8);
            notice[6] = 0x04;
            device.input(notice);
        } else {
            note("dj-" + std::to_string(report[2]));
        }
        return;
    }
    if ((id == hidppShort || id == hidppLong) && index == receiverIndex) {
        // HID++ 1.0 register access to the receiver: the pairing information of the paired
        // slot (serial and name, which the HID++ driver reads), notification flags written.
        const std::uint8_t subId = report[2], address = report[3];
        const std::uint8_t param = report.size() > 4 ? report[4] : 0;
        std::vector<std::uint8_t> reply(20, 0);
        reply[0] = hidppLong;
        reply[1] = receiverIndex;
        reply[2] = subId;
        reply[3] = address;
        reply[4] = param;
        if (subId == 0x83 && address == 0xB5 && (param & 0xF0) == 0x30) {
            note("pairing-info serial");
            reply[5] = 0x12, reply[6] = 0x34, reply[7] = 0x56, reply[8] = 0x78;
        } else if (subId == 0x83 && address == 0xB5 && (param & 0xF0) == 0x40) {
            note("pairing-info name");
            const std::string shortName = "MX Master 3";
            reply[5] = static_cast<std::uint8_t>(shortName.size());
            std::copy(shortName.begin(), shortName.end(), reply.begin() + 6);
        } else if (subId == 0x80 || subId == 0x81) {
            note("register " + std::to_string(address));
            reply = {hidppShort, receiverIndex, subId, address, 0, 0, 0};
        } else {
            note("refused " + std::to_string(subId) + "/" + std::to_string(address));
            reply = {hidppShort, receiverIndex, 0x8F, subId, address, 0x02, 0};
        }
        device.input(reply);
        return;
    }
    if ((id == hidppShort || id == hidppLong) && index == slot_) {
        for (const auto& reply : hidpp_->answer(report, setReport)) device.input(reply);
        return;
    }
}

void Receiver::act(const std::function<void(VirtualHidppMouse&, Instant)>& action) {
    sendAll(hidpp_->act(action));
}

bool Receiver::report(std::uint16_t buttons, int dx, int dy, int wheel) {
    auto mouse = mouseReport(buttons, dx, dy, wheel);
    std::vector<std::uint8_t> dj(djShortLength, 0);
    dj[0] = djShort;
    dj[1] = slot_;
    dj[2] = 0x02;  // a mouse report
    std::copy(mouse.begin(), mouse.end(), dj.begin() + 3);
    return device_->input(dj);
}

}  // namespace tindlewave::testkit::uhid
