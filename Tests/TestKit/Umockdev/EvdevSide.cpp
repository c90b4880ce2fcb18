#include "TestKit/Umockdev/EvdevSide.h"

#include <linux/uinput.h>
#include <umockdev.h>
#include <sys/ioctl.h>

#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace tindlewave::testkit::umockdev {

namespace {

std::vector<std::uint8_t> bitmap(const std::vector<std::uint16_t>& codes, std::size_t size) {
    std::vector<std::uint8_t> bytes(size, 0);
    for (std::uint16_t code : codes) {
        if (code / 8u < size) bytes[code / 8u] = static_cast<std::uint8_t>(bytes[code / 8u] | (1u << (code % 8u)));
    }
    return bytes;
}

std::vector<Code> codesOf(std::span<const std::uint8_t> bytes) {
    std::vector<Code> codes;
    for (std::size_t at = 0; at + sizeof(input_event) <= bytes.size(); at += sizeof(input_event)) {
        input_event e;
        std::memcpy(&e, bytes.data() + at, sizeof e);
        codes.emplace_back(e.type, e.code, e.value);
    }
    return codes;
}

// Answers a variable-length read with `bytes`, cut to the caller's buffer.
bool answer(const std::shared_ptr<IoctlCall>& call, std::vector<std::uint8_t> bytes) {
    const std::size_t size = _IOC_SIZE(call->request());
    bytes.resize(size, 0);
    call->write(bytes);
    call->complete(static_cast<long>(size));
    return true;
}

bool answerText(const std::shared_ptr<IoctlCall>& call, const std::string& text) {
    if (text.empty()) {
        call->complete(-1, ENOENT);
        return true;
    }
    std::vector<std::uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);
    const std::size_t size = _IOC_SIZE(call->request());
    if (bytes.size() > size) bytes.resize(size);
    call->write(bytes);
    call->complete(static_cast<long>(bytes.size()));
    return true;
}

}  // namespace

EvdevSide::EvdevSide(Testbed& testbed, const std::string& devnode, InputDescription description)
    : node_(testbed, devnode), description_(std::move(description)) {
    node_.onIoctl(EVIOCGID, [this](const std::shared_ptr<IoctlCall>& call) {
        call->writeAs(description_.id);
        call->complete(0);
        return true;
    });
    node_.onIoctl(EVIOCGRAB, [this](const std::shared_ptr<IoctlCall>& call) {
        std::lock_guard lock(mutex_);
        ++grabCalls_;
        const bool grab = call->value() != 0;
        auto* client = const_cast<void*>(call->client());
        if (gone_) {
            call->complete(-1, ENODEV);
            return true;
        }
        const bool held =
            holder_ && umockdev_ioctl_client_get_connected(static_cast<UMockdevIoctlClient*>(holder_));
        if (grab && (heldElsewhere_ || held)) {
            call->complete(-1, EBUSY);
            return true;
        }
        if (!grab && holder_ != client) {
            call->complete(-1, EINVAL);
            return true;
        }
        if (holder_) g_object_unref(holder_);
        holder_ = grab ? g_object_ref(client) : nullptr;
        call->complete(0);
        if (grab && !onGrab_.empty()) sendRaw(std::exchange(onGrab_, {}));
        return true;
    });
    node_.onAnyIoctl([this](const std::shared_ptr<IoctlCall>& call) {
        const unsigned long request = call->request();
        if (_IOC_TYPE(request) != 'E' || _IOC_DIR(request) != _IOC_READ) return false;
        {
            std::lock_guard lock(mutex_);
            if (gone_) {
                call->complete(-1, ENODEV);
                return true;
            }
        }
        const unsigned nr = _IOC_NR(request);
        if (nr == _IOC_NR(EVIOCGNAME(0))) return answerText(call, description_.name);
        if (nr == _IOC_NR(EVIOCGPHYS(0))) return answerText(call, description_.phys);
        if (nr == _IOC_NR(EVIOCGPROP(0)))
            return answer(call, bitmap(description_.properties, _IOC_SIZE(request)));
        if (nr == _IOC_NR(EVIOCGKEY(0))) {
            std::lock_guard lock(mutex_);
            return answer(call, bitmap(keysDown_, _IOC_SIZE(request)));
        }
        if (nr == _IOC_NR(EVIOCGLED(0))) return answer(call, {});
        if (nr >= _IOC_NR(EVIOCGBIT(0, 0)) && nr < _IOC_NR(EVIOCGBIT(EV_MAX + 1, 0))) {
            const unsigned type = nr - _IOC_NR(EVIOCGBIT(0, 0));
            if (type == 0) {
                std::vector<std::uint16_t> types{EV_SYN};
                for (const auto& [t, list] : description_.codes) types.push_back(t);
                return answer(call, bitmap(types, _IOC_SIZE(request)));
            }
            const auto* list = description_.codesOf(static_cast<std::uint16_t>(type));
            return answer(call, bitmap(list ? *list : std::vector<std::uint16_t>{}, _IOC_SIZE(request)));
        }
        if (nr >= _IOC_NR(EVIOCGABS(0)) && nr <= _IOC_NR(EVIOCGABS(ABS_MAX))) {
            const unsigned code = nr - _IOC_NR(EVIOCGABS(0));
            for (const auto& axis : description_.axes) {
                if (axis.code == code) {
                    call->writeAs(axis.info);
                    call->complete(0);
                    return true;
                }
            }
            call->complete(-1, EINVAL);
            return true;
        }
        return false;
    });
    node_.onWrite([this](std::span<const std::uint8_t> bytes) {
        std::lock_guard lock(mutex_);
        const bool grabbed =
            holder_ && umockdev_ioctl_client_get_connected(static_cast<UMockdevIoctlClient*>(holder_));
        for (const Code& c : codesOf(bytes)) {
            written_.push_back(c);
            if (grabbed) writtenWhileGrabbed_.push_back(c);
        }
        return 0;
    });
}

namespace {

std::vector<input_event> frameOf(std::initializer_list<Code> codes) {
    std::vector<input_event> frame;
    for (auto [type, code, value] : codes) {
        input_event e{};
        e.type = static_cast<std::uint16_t>(type);
        e.code = static_cast<std::uint16_t>(code);
        e.value = value;
        frame.push_back(e);
    }
    frame.push_back(input_event{});
    return frame;
}

}  // namespace

void EvdevSide::sendOnGrab(std::initializer_list<Code> codes) {
    std::lock_guard lock(mutex_);
    onGrab_ = frameOf(codes);
}

void EvdevSide::send(std::initializer_list<Code> codes) { sendRaw(frameOf(codes)); }

void EvdevSide::sendRaw(const std::vector<input_event>& codes) {
    // Stamped as the kernel stamps them (the real-time clock), where the test left the time out.
    std::vector<input_event> stamped = codes;
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    for (input_event& code : stamped) {
        if (code.time.tv_sec == 0 && code.time.tv_usec == 0) code.time = {now.tv_sec, now.tv_nsec / 1000};
    }
    node_.send({reinterpret_cast<const std::uint8_t*>(stamped.data()), stamped.size() * sizeof(input_event)});
}

void EvdevSide::setKeysDown(std::vector<std::uint16_t> keys) {
    std::lock_guard lock(mutex_);
    keysDown_ = std::move(keys);
}

void EvdevSide::setHeldElsewhere(bool held) {
    std::lock_guard lock(mutex_);
    heldElsewhere_ = held;
}

void EvdevSide::setGone() {
    {
        std::lock_guard lock(mutex_);
        gone_ = true;
    }
    node_.failReads(ENODEV);
}

EvdevSide::~EvdevSide() {
    std::lock_guard lock(mutex_);
    if (holder_) g_object_unref(holder_);
}

bool EvdevSide::isGrabbed() const {
    std::lock_guard lock(mutex_);
    return holder_ && umockdev_ioctl_client_get_connected(static_cast<UMockdevIoctlClient*>(holder_));
}

int EvdevSide::grabCalls() const {
    std::lock_guard lock(mutex_);
    return grabCalls_;
}

std::vector<Code> EvdevSide::written() const {
    std::lock_guard lock(mutex_);
    return written_;
}

std::vector<Code> EvdevSide::writtenWhileGrabbed() const {
    std::lock_guard lock(mutex_);
    return writtenWhileGrabbed_;
}

// uinput.

UinputSide::UinputSide(Testbed& testbed) : node_(testbed, "/dev/uinput") {
    node_.onAnyIoctl([this](const std::shared_ptr<IoctlCall>& call) {
        const unsigned long request = call->request();
        if (_IOC_TYPE(request) != UINPUT_IOCTL_BASE) return false;
        std::lock_guard lock(mutex_);
        Device* device = deviceOf(call->client());
        auto set = [&](std::uint16_t type) {
            device->description.add(type, static_cast<std::uint16_t>(call->value()));
            call->complete(0);
            return true;
        };
        switch (request) {
            case UI_SET_EVBIT: {
                const auto type = static_cast<std::uint16_t>(call->value());
                if (!device->description.has(type)) device->description.codes.push_back({type, {}});
                call->complete(0);
                return true;
            }
            case UI_SET_KEYBIT: return set(EV_KEY);
            case UI_SET_RELBIT: return set(EV_REL);
            case UI_SET_ABSBIT: return set(EV_ABS);
            case UI_SET_MSCBIT: return set(EV_MSC);
            case UI_SET_LEDBIT: return set(EV_LED);
            case UI_SET_SWBIT: return set(EV_SW);
            case UI_SET_PROPBIT:
                device->description.properties.push_back(static_cast<std::uint16_t>(call->value()));
                call->complete(0);
                return true;
            case UI_SET_PHYS: {
                auto bytes = call->read(64);
                device->description.phys.assign(bytes.begin(), std::find(bytes.begin(), bytes.end(), 0));
                call->complete(0);
                return true;
            }
            case UI_ABS_SETUP: {
                auto setup = call->readAs<uinput_abs_setup>();
                device->description.axes.push_back({setup.code, setup.absinfo});
                call->complete(0);
                return true;
            }
            case UI_DEV_SETUP: {
                auto setup = call->readAs<uinput_setup>();
                device->description.id = setup.id;
                device->description.name = setup.name;
                call->complete(0);
                return true;
            }
            case UI_DEV_CREATE:
                if (fails_) {
                    call->complete(-1, EINVAL);
                    return true;
                }
                device->created = true;
                device->sysname = "input" + std::to_string(nextSysname_++);
                call->complete(0);
                return true;
            case UI_DEV_DESTROY:
                device->destroyed = true;
                call->complete(0);
                return true;
            default:
                break;
        }
        if (_IOC_NR(request) == _IOC_NR(UI_GET_SYSNAME(0))) {
            std::vector<std::uint8_t> bytes(device->sysname.begin(), device->sysname.end());
            bytes.push_back(0);
            call->write(bytes);
            call->complete(static_cast<long>(bytes.size()));
            return true;
        }
        call->complete(-1, ENOTTY);
        return true;
    });
    node_.onWriteFrom([this](const void* client, std::span<const std::uint8_t> bytes) {
        std::lock_guard lock(mutex_);
        Device* device = deviceOf(client);
        if (!device->created || device->destroyed) return EINVAL;
        // As the kernel does, a code the device was not made with is dropped.
        for (const Code& c : codesOf(bytes)) {
            const auto [type, code, value] = c;
            if (type == EV_SYN ||
                device->description.has(static_cast<std::uint16_t>(type), static_cast<std::uint16_t>(code)))
                device->written.push_back(c);
        }
        return 0;
    });
}

UinputSide::Device* UinputSide::deviceOf(const void* client) {
    for (auto it = devices_.rbegin(); it != devices_.rend(); ++it) {
        if (it->client == client && !it->destroyed) return &*it;
    }
    devices_.push_back(Device{client, {}, {}, false, false, {}});
    return &devices_.back();
}

std::vector<UinputSide::Device> UinputSide::devices() const {
    std::lock_guard lock(mutex_);
    return devices_;
}

std::optional<UinputSide::Device> UinputSide::named(const std::string& name, std::size_t nth) const {
    std::lock_guard lock(mutex_);
    for (const Device& device : devices_) {
        if (device.created && !device.destroyed && device.description.name == name && nth-- == 0)
            return device;
    }
    return std::nullopt;
}

std::vector<Code> UinputSide::written(const std::string& name) const {
    std::lock_guard lock(mutex_);
    std::vector<Code> codes;
    for (const Device& device : devices_) {
        if (device.created && !device.destroyed && device.description.name == name)
            codes.insert(codes.end(), device.written.begin(), device.written.end());
    }
    return codes;
}

std::vector<Code> UinputSide::take(const std::string& name) {
    std::lock_guard lock(mutex_);
    std::vector<Code> taken;
    for (Device& device : devices_) {
        if (device.created && !device.destroyed && device.description.name == name) {
            for (const Code& c : device.written) taken.push_back(c);
            device.written.clear();
        }
    }
    return taken;
}

void UinputSide::sendToProgram(std::initializer_list<Code> codes) {
    std::vector<input_event> frame;
    for (auto [type, code, value] : codes) {
        input_event e{};
        e.type = static_cast<std::uint16_t>(type);
        e.code = static_cast<std::uint16_t>(code);
        e.value = value;
        frame.push_back(e);
    }
    frame.push_back(input_event{});
    node_.send({reinterpret_cast<const std::uint8_t*>(frame.data()), frame.size() * sizeof(input_event)});
}

void UinputSide::setFails(bool fails) {
    std::lock_guard lock(mutex_);
    fails_ = fails;
}

}  // namespace tindlewave::testkit::umockdev
