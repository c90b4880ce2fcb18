#include "Platform/Linux/Input/EvdevDevice.h"

#include <fcntl.h>
#include <linux/uinput.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <utility>

namespace tindlewave {

namespace {

// The event types a description keeps, with the highest code of each.
constexpr std::array<std::pair<std::uint16_t, std::uint16_t>, 6> describedTypes{{
    {EV_KEY, KEY_MAX},
    {EV_REL, REL_MAX},
    {EV_ABS, ABS_MAX},
    {EV_MSC, MSC_MAX},
    {EV_SW, SW_MAX},
    {EV_LED, LED_MAX},
}};

bool bit(const std::vector<std::uint8_t>& bytes, std::size_t n) {
    return n / 8 < bytes.size() && ((bytes[n / 8] >> (n % 8)) & 1) != 0;
}

std::optional<SystemError> readBits(int fd, unsigned type, std::size_t maxCode,
                                    std::vector<std::uint8_t>& bytes) {
    bytes.assign(maxCode / 8 + 1, 0);
    if (::ioctl(fd, EVIOCGBIT(type, bytes.size()), bytes.data()) < 0) return SystemError::fromErrno();
    return std::nullopt;
}

std::string readText(int fd, unsigned long request) {
    std::array<char, 256> text{};
    if (::ioctl(fd, request, text.data()) < 0) return {};
    text.back() = '\0';
    return text.data();
}

int setBit(int fd, std::uint16_t type, std::uint16_t code) {
    switch (type) {
        case EV_KEY: return ::ioctl(fd, UI_SET_KEYBIT, code);
        case EV_REL: return ::ioctl(fd, UI_SET_RELBIT, code);
        case EV_ABS: return ::ioctl(fd, UI_SET_ABSBIT, code);
        case EV_MSC: return ::ioctl(fd, UI_SET_MSCBIT, code);
        case EV_SW: return ::ioctl(fd, UI_SET_SWBIT, code);
        case EV_LED: return ::ioctl(fd, UI_SET_LEDBIT, code);
        default: return 0;
    }
}

}  // namespace

bool InputDescription::has(std::uint16_t type) const { return codesOf(type) != nullptr; }

bool InputDescription::has(std::uint16_t type, std::uint16_t code) const {
    const auto* list = codesOf(type);
    return list && std::find(list->begin(), list->end(), code) != list->end();
}

const std::vector<std::uint16_t>* InputDescription::codesOf(std::uint16_t type) const {
    for (const auto& [t, list] : codes) {
        if (t == type) return &list;
    }
    return nullptr;
}

void InputDescription::add(std::uint16_t type, std::uint16_t code) {
    for (auto& [t, list] : codes) {
        if (t != type) continue;
        if (std::find(list.begin(), list.end(), code) == list.end()) list.push_back(code);
        return;
    }
    codes.push_back({type, {code}});
}

namespace evdev {

std::variant<InputDescription, SystemError> describe(int fd) {
    InputDescription d;
    if (::ioctl(fd, EVIOCGID, &d.id) < 0) return SystemError::fromErrno();
    d.name = readText(fd, EVIOCGNAME(256));
    d.phys = readText(fd, EVIOCGPHYS(256));
    std::vector<std::uint8_t> types;
    if (auto error = readBits(fd, 0, EV_MAX, types)) return *error;
    std::vector<std::uint8_t> bytes;
    for (auto [type, maxCode] : describedTypes) {
        if (!bit(types, type)) continue;
        if (auto error = readBits(fd, type, maxCode, bytes)) return *error;
        std::vector<std::uint16_t> list;
        for (std::size_t code = 0; code <= maxCode; ++code) {
            if (bit(bytes, code)) list.push_back(static_cast<std::uint16_t>(code));
        }
        if (type == EV_ABS) {
            for (std::uint16_t code : list) {
                InputDescription::Axis axis{code, {}};
                if (::ioctl(fd, EVIOCGABS(code), &axis.info) < 0) return SystemError::fromErrno();
                d.axes.push_back(axis);
            }
        }
        d.codes.push_back({type, std::move(list)});
    }
    std::vector<std::uint8_t> props(INPUT_PROP_MAX / 8 + 1, 0);
    if (::ioctl(fd, EVIOCGPROP(props.size()), props.data()) >= 0) {
        for (std::size_t p = 0; p <= INPUT_PROP_MAX; ++p) {
            if (bit(props, p)) d.properties.push_back(static_cast<std::uint16_t>(p));
        }
    }
    return d;
}

namespace {

// The codes up to `max` whose bits a state request (EVIOCGKEY, EVIOCGLED) sets, asked for the
// `max / 8 + 1` bytes they take.
std::variant<std::vector<std::uint16_t>, SystemError> codesSet(int fd, unsigned long request, std::size_t max) {
    std::vector<std::uint8_t> bytes(max / 8 + 1, 0);
    if (::ioctl(fd, request, bytes.data()) < 0) return SystemError::fromErrno();
    std::vector<std::uint16_t> set;
    for (std::size_t code = 0; code <= max; ++code) {
        if (bit(bytes, code)) set.push_back(static_cast<std::uint16_t>(code));
    }
    return set;
}

}  // namespace

std::variant<std::vector<std::uint16_t>, SystemError> keysDown(int fd) {
    return codesSet(fd, EVIOCGKEY(KEY_MAX / 8 + 1), KEY_MAX);
}

std::optional<bool> ledOn(int fd, std::uint16_t led) {
    std::vector<std::uint8_t> bytes(LED_MAX / 8 + 1, 0);
    if (::ioctl(fd, EVIOCGLED(bytes.size()), bytes.data()) < 0) return std::nullopt;
    return bit(bytes, led);
}

std::variant<std::vector<std::uint16_t>, SystemError> ledsOn(int fd) {
    return codesSet(fd, EVIOCGLED(LED_MAX / 8 + 1), LED_MAX);
}

std::optional<SystemError> grab(int fd, bool grabbed) {
    if (::ioctl(fd, EVIOCGRAB, grabbed ? 1 : 0) < 0) return SystemError::fromErrno();
    return std::nullopt;
}

}  // namespace evdev

std::variant<UinputDevice, SystemError> UinputDevice::create(const char* uinputPath,
                                                             const InputDescription& d) {
    UniqueFd device(::open(uinputPath, O_RDWR | O_NONBLOCK | O_CLOEXEC));
    if (!device.isOpen()) return SystemError::fromErrno();
    const int fd = device.get();
    // The device closes with its descriptor on the way out.
    auto fail = [] { return SystemError::fromErrno(); };
    for (const auto& [type, list] : d.codes) {
        if (type == EV_REP) continue;
        if (::ioctl(fd, UI_SET_EVBIT, type) < 0) return fail();
        for (std::uint16_t code : list) {
            if (setBit(fd, type, code) < 0) return fail();
        }
    }
    for (std::uint16_t property : d.properties) {
        if (::ioctl(fd, UI_SET_PROPBIT, property) < 0) return fail();
    }
    for (const auto& axis : d.axes) {
        uinput_abs_setup setup{};
        setup.code = axis.code;
        setup.absinfo = axis.info;
        if (::ioctl(fd, UI_ABS_SETUP, &setup) < 0) return fail();
    }
    if (!d.phys.empty() && ::ioctl(fd, UI_SET_PHYS, d.phys.c_str()) < 0) return fail();
    uinput_setup setup{};
    setup.id = d.id;
    std::strncpy(setup.name, d.name.c_str(), UINPUT_MAX_NAME_SIZE - 1);
    if (::ioctl(fd, UI_DEV_SETUP, &setup) < 0) return fail();
    if (::ioctl(fd, UI_DEV_CREATE) < 0) return fail();
    std::array<char, 64> sysname{};
    if (::ioctl(fd, UI_GET_SYSNAME(sysname.size()), sysname.data()) < 0) sysname[0] = '\0';
    sysname.back() = '\0';
    return UinputDevice(std::move(device), sysname.data());
}

UinputDevice::UinputDevice(UinputDevice&& other) noexcept
    : fd_(std::move(other.fd_)),
      sysname_(std::move(other.sysname_)),
      writesWithoutWaiting_(other.writesWithoutWaiting_) {}

UinputDevice& UinputDevice::operator=(UinputDevice&& other) noexcept {
    if (this != &other) {
        destroy();
        fd_ = std::move(other.fd_);
        sysname_ = std::move(other.sysname_);
        writesWithoutWaiting_ = other.writesWithoutWaiting_;
    }
    return *this;
}

UinputDevice::UinputDevice(UniqueFd fd, std::string sysname)
    : fd_(std::move(fd)), sysname_(std::move(sysname)) {
    const int flags = fd_.isOpen() ? ::fcntl(fd_.get(), F_GETFL) : -1;
    writesWithoutWaiting_ = flags >= 0 && (flags & O_NONBLOCK) != 0;
}

UinputDevice::~UinputDevice() { destroy(); }

void UinputDevice::destroy() {
    if (!fd_.isOpen()) return;
    ::ioctl(fd_.get(), UI_DEV_DESTROY);
    fd_.reset();
}

bool UinputDevice::write(const input_event* codes, std::size_t count) const {
    const auto bytes = static_cast<ssize_t>(count * sizeof(input_event));
    ssize_t written;
    do {
        written = ::write(fd_.get(), codes, static_cast<std::size_t>(bytes));
    } while (written < 0 && errno == EINTR);
    return written == bytes;
}

InputDescription mirrorOf(const InputDescription& node) {
    InputDescription mirror = node;
    std::erase_if(mirror.codes, [](const auto& entry) { return entry.first == EV_REP; });
    mirror.phys = std::string(ownPhysPrefix) + node.phys;
    return mirror;
}

InputDescription virtualKeyboard() {
    InputDescription d;
    d.id = {BUS_VIRTUAL, 0, 1, 1};
    d.name = "Tindlewave virtual keyboard";
    d.phys = std::string(ownPhysPrefix) + "keyboard";
    for (std::uint16_t key = 1; key <= 255; ++key) d.add(EV_KEY, key);
    for (std::uint16_t led : {LED_NUML, LED_CAPSL, LED_SCROLLL}) d.add(EV_LED, led);
    return d;
}

InputDescription virtualPointer() {
    InputDescription d;
    d.id = {BUS_VIRTUAL, 0, 2, 1};
    d.name = "Tindlewave virtual pointer";
    d.phys = std::string(ownPhysPrefix) + "pointer";
    for (std::uint16_t button = BTN_LEFT; button <= BTN_TASK; ++button) d.add(EV_KEY, button);
    for (std::uint16_t rel : {REL_X, REL_Y, REL_WHEEL, REL_HWHEEL, REL_WHEEL_HI_RES, REL_HWHEEL_HI_RES})
        d.add(EV_REL, rel);
    d.properties.push_back(INPUT_PROP_POINTER);
    return d;
}

}  // namespace tindlewave
