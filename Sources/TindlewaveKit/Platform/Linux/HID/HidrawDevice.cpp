#include "Platform/Linux/HID/HidrawDevice.h"

#include <fcntl.h>
#include <linux/hidraw.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace tindlewave {

std::size_t hidrawReportLength(std::uint8_t reportID) {
    switch (reportID) {
        case 0x10: return 7;
        case 0x11: return 20;
        case 0x12: return 64;
        case 0x20: return 15;
        case 0x21: return 32;
        default: return 0;
    }
}

HidrawDevice::HidrawDevice(RegistryID id, std::string devnode, PropertyBag properties,
                           FdRegistrar* registrar)
    : id_(id), devnode_(std::move(devnode)), properties_(std::move(properties)), registrar_(registrar) {}

HidrawDevice::~HidrawDevice() {
    close();
}

std::optional<PropertyValue> HidrawDevice::property(std::string_view name) const {
    auto found = properties_.find(std::string(name));
    if (found == properties_.end()) return std::nullopt;
    return found->second;
}

HIDResult HidrawDevice::resultFor(int error) {
    switch (error) {
        case 0: return hidSuccess;
        case EACCES:
        case EPERM: return hidNotPermitted;
        case ENOENT:
        case ENODEV:
        case ENXIO: return hidNoDevice;
        default: return hidFailure;
    }
}

HIDResult HidrawDevice::open() {
    if (fd_.isOpen()) return hidSuccess;
    if (gone_ || devnode_.empty()) return hidNoDevice;
    UniqueFd fd(::open(devnode_.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
    if (!fd.isOpen()) return resultFor(errno);
    fd_ = std::move(fd);
    watch();
    return hidSuccess;
}

void HidrawDevice::registerInputReportCallback(std::size_t bufferSize, InputReportCallback callback) {
    ++generation_;
    bufferSize_ = bufferSize;
    callback_ = callback ? std::make_shared<InputReportCallback>(std::move(callback)) : nullptr;
    watch();
}

void HidrawDevice::unregisterInputReportCallback() {
    ++generation_;
    callback_ = nullptr;
    watch_.cancel();
}

void HidrawDevice::setRegistrar(FdRegistrar* registrar) {
    if (registrar == registrar_) return;
    watch_.cancel();
    registrar_ = registrar;
    watch();
}

void HidrawDevice::watch() {
    if (!fd_.isOpen() || !callback_ || !registrar_ || watch_.isArmed()) return;
    // One read per readiness: the watch is level-triggered, so a report left behind is delivered
    // on the loop's next pass, and a lone report costs no read that finds nothing.
    watch_ = registrar_->addFd(fd_.get(), EPOLLIN, [this](std::uint32_t) { readOnce(); });
}

HIDResult HidrawDevice::setReport(HIDReportType type, std::uint8_t,
                                  std::span<const std::uint8_t> bytes) {
    if (!fd_.isOpen()) return gone_ ? hidNoDevice : hidFailure;
    if (type == HIDReportType::feature) {
        if (::ioctl(fd_.get(), HIDIOCSFEATURE(bytes.size()), bytes.data()) < 0) return resultFor(errno);
        return hidSuccess;
    }
    if (type != HIDReportType::output) return hidFailure;
    ssize_t written;
    do {
        written = ::write(fd_.get(), bytes.data(), bytes.size());
    } while (written < 0 && errno == EINTR);
    if (written < 0) return resultFor(errno);
    return std::size_t(written) == bytes.size() ? hidSuccess : hidFailure;
}

void HidrawDevice::close() {
    ++generation_;
    watch_.cancel();
    fd_.reset();
}

void HidrawDevice::fail() {
    close();
    if (gone_) return;
    gone_ = true;
    if (auto handler = std::move(onGone_)) handler();
}

void HidrawDevice::readNow() {
    while (readOnce()) {
    }
}

bool HidrawDevice::readOnce() {
    const std::uint64_t generation = generation_;
    if (!fd_.isOpen()) return false;
    ssize_t count;
    do {
        count = ::read(fd_.get(), buffer_.data(), buffer_.size());
    } while (count < 0 && errno == EINTR);
    if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return false;
    if (count <= 0) {
        // ENODEV: the device went; any other failure, or an end of file (which hidraw never
        // gives), leaves the node unusable too.
        fail();
        return false;
    }
    splitHidrawReports(std::span<const std::uint8_t>(buffer_.data(), std::size_t(count)),
                       [&](std::span<const std::uint8_t> report) {
                           // Nothing is delivered after an unregistration or a close, even a
                           // report read with the one before.
                           if (generation != generation_ || !callback_) return;
                           const auto keep = callback_;
                           (*keep)(report[0], report.first(std::min(report.size(), bufferSize_)));
                       });
    return fd_.isOpen() && generation == generation_;
}

}  // namespace tindlewave
