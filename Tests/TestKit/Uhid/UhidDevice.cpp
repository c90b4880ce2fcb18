#include "TestKit/Uhid/UhidDevice.h"

#include <fcntl.h>
#include <linux/uhid.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tindlewave::testkit::uhid {
namespace {

bool send(int fd, const uhid_event& event) {
    return ::write(fd, &event, sizeof event) == static_cast<ssize_t>(sizeof event);
}

void copyText(char* into, std::size_t size, const std::string& text) {
    std::strncpy(into, text.c_str(), size - 1);
    into[size - 1] = '\0';
}

}  // namespace

std::unique_ptr<UhidDevice> UhidDevice::create(const UhidIdentity& identity, Handler handler,
                                               std::string& error) {
    if (identity.descriptor.size() > HID_MAX_DESCRIPTOR_SIZE) {
        error = identity.name + ": report descriptor too long";
        return nullptr;
    }
    int fd = ::open("/dev/uhid", O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        error = std::string("/dev/uhid: ") + std::strerror(errno);
        return nullptr;
    }
    auto event = std::make_unique<uhid_event>();
    std::memset(event.get(), 0, sizeof *event);
    event->type = UHID_CREATE2;
    auto& create = event->u.create2;
    copyText(reinterpret_cast<char*>(create.name), sizeof create.name, identity.name);
    copyText(reinterpret_cast<char*>(create.phys), sizeof create.phys, identity.phys);
    copyText(reinterpret_cast<char*>(create.uniq), sizeof create.uniq, identity.uniq);
    create.rd_size = static_cast<__u16>(identity.descriptor.size());
    create.bus = identity.bus;
    create.vendor = identity.vendor;
    create.product = identity.product;
    create.version = identity.version;
    std::copy(identity.descriptor.begin(), identity.descriptor.end(), create.rd_data);
    if (!send(fd, *event)) {
        error = identity.name + ": UHID_CREATE2: " + std::strerror(errno);
        ::close(fd);
        return nullptr;
    }
    int stop = ::eventfd(0, EFD_CLOEXEC);
    std::unique_ptr<UhidDevice> device(new UhidDevice(fd, stop, std::move(handler)));
    device->thread_ = std::thread([raw = device.get()] { raw->run(); });
    return device;
}

UhidDevice::UhidDevice(int fd, int stop, Handler handler)
    : fd_(fd), stop_(stop), handler_(std::move(handler)) {}

UhidDevice::~UhidDevice() {
    std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(stop_, &one, sizeof one);
    if (thread_.joinable()) thread_.join();
    uhid_event event{};
    event.type = UHID_DESTROY;
    send(fd_, event);
    ::close(fd_);
    ::close(stop_);
}

bool UhidDevice::input(std::span<const std::uint8_t> report) {
    uhid_event event{};
    event.type = UHID_INPUT2;
    event.u.input2.size = static_cast<__u16>(std::min<std::size_t>(report.size(), UHID_DATA_MAX));
    std::copy_n(report.begin(), event.u.input2.size, event.u.input2.data);
    return send(fd_, event);
}

void UhidDevice::run() {
    auto event = std::make_unique<uhid_event>();
    while (true) {
        pollfd fds[2] = {{fd_, POLLIN, 0}, {stop_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents) return;
        if (!(fds[0].revents & POLLIN)) continue;
        if (::read(fd_, event.get(), sizeof *event) <= 0) continue;
        switch (event->type) {
            case UHID_START: started_ = true; break;
            case UHID_STOP: started_ = false; break;
            case UHID_OPEN: opened_ = true; break;
            case UHID_CLOSE: opened_ = false; break;
            case UHID_OUTPUT: {
                const auto& output = event->u.output;
                handler_(*this, std::span<const std::uint8_t>(output.data, output.size), false);
                break;
            }
            case UHID_GET_REPORT: {
                uhid_event reply{};
                reply.type = UHID_GET_REPORT_REPLY;
                reply.u.get_report_reply.id = event->u.get_report.id;
                reply.u.get_report_reply.err = EIO;
                send(fd_, reply);
                break;
            }
            case UHID_SET_REPORT: {
                const auto request = event->u.set_report;
                uhid_event reply{};
                reply.type = UHID_SET_REPORT_REPLY;
                reply.u.set_report_reply.id = request.id;
                reply.u.set_report_reply.err = 0;
                send(fd_, reply);
                handler_(*this, std::span<const std::uint8_t>(request.data, request.size), true);
                break;
            }
            default: break;
        }
    }
}

}  // namespace tindlewave::testkit::uhid
