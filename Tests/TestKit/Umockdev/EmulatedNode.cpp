#include "TestKit/Umockdev/EmulatedNode.h"

#include <gtest/gtest.h>
#include <umockdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>

#include <cerrno>

#include "TestKit/Umockdev/Testbed.h"

namespace tindlewave::testkit::umockdev {

IoctlCall::IoctlCall(_UMockdevIoctlClient* client, unsigned long request)
    : client_(UMOCKDEV_IOCTL_CLIENT(g_object_ref(client))), request_(request) {}

IoctlCall::~IoctlCall() {
    if (!completed_) umockdev_ioctl_client_complete(client_, -1, EIO);
    if (resolved_) g_object_unref(resolved_);
    g_object_unref(client_);
}

unsigned long IoctlCall::value() const {
    UMockdevIoctlData* argument = umockdev_ioctl_client_get_arg(client_);
    unsigned long value = 0;
    if (argument && std::size_t(argument->data_len) >= sizeof value)
        std::memcpy(&value, argument->data, sizeof value);
    return value;
}

bool IoctlCall::resolve(std::size_t size) {
    // Resolved once, to the size the request number encodes (or more when asked): the emulation
    // copies back only the buffer it resolved first.
    if (resolved_) return resolvedSize_ >= size;
    size = std::max<std::size_t>(size, _IOC_SIZE(request_));
    GError* error = nullptr;
    UMockdevIoctlData* data =
        umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client_), 0, size, &error);
    if (!data) {
        if (error) g_error_free(error);
        return false;
    }
    resolved_ = data;
    resolvedSize_ = size;
    return true;
}

std::vector<std::uint8_t> IoctlCall::read(std::size_t size) {
    std::lock_guard lock(mutex_);
    if (!resolve(size)) return {};
    auto* data = static_cast<UMockdevIoctlData*>(resolved_);
    return {data->data, data->data + size};
}

bool IoctlCall::write(std::span<const std::uint8_t> bytes, std::size_t offset) {
    std::lock_guard lock(mutex_);
    if (!resolve(offset + bytes.size())) return false;
    auto* data = static_cast<UMockdevIoctlData*>(resolved_);
    std::memcpy(data->data + offset, bytes.data(), bytes.size());
    return true;
}

void IoctlCall::complete(long result, int error) {
    std::lock_guard lock(mutex_);
    if (completed_) return;
    completed_ = true;
    umockdev_ioctl_client_complete(client_, result, result == -1 ? error : 0);
}

EmulatedNode::EmulatedNode(Testbed& testbed, std::string devnode)
    : testbed_(testbed), devnode_(std::move(devnode)), handler_(umockdev_ioctl_base_new()) {
    g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(&EmulatedNode::handleIoctl), this);
    g_signal_connect(handler_, "handle-write", G_CALLBACK(&EmulatedNode::handleWrite), this);
    g_signal_connect(handler_, "handle-read", G_CALLBACK(&EmulatedNode::handleRead), this);
    GError* error = nullptr;
    if (!umockdev_testbed_attach_ioctl(testbed_.raw(), devnode_.c_str(), handler_, &error)) {
        ADD_FAILURE() << "cannot emulate " << devnode_ << ": "
                      << (error ? error->message : "no reason given");
        if (error) g_error_free(error);
    }
}

EmulatedNode::~EmulatedNode() {
    {
        std::lock_guard lock(mutex_);
        g_signal_handlers_disconnect_by_data(handler_, this);
        ioctls_.clear();
        anyIoctl_ = nullptr;
        write_ = nullptr;
    }
    umockdev_testbed_detach_ioctl(testbed_.raw(), devnode_.c_str(), nullptr);
    g_object_unref(handler_);
}

void EmulatedNode::onIoctl(unsigned long request, IoctlHandler handler) {
    std::lock_guard lock(mutex_);
    ioctls_[request] = std::move(handler);
}

void EmulatedNode::onAnyIoctl(IoctlHandler handler) {
    std::lock_guard lock(mutex_);
    anyIoctl_ = std::move(handler);
}

void EmulatedNode::onWrite(WriteHandler handler) {
    onWriteFrom([handler = std::move(handler)](const void*, std::span<const std::uint8_t> bytes) {
        return handler(bytes);
    });
}

void EmulatedNode::onWriteFrom(ClientWriteHandler handler) {
    std::lock_guard lock(mutex_);
    write_ = std::move(handler);
}

void EmulatedNode::failReads(int error) {
    std::lock_guard lock(mutex_);
    readError_ = error;
}

bool EmulatedNode::send(std::span<const std::uint8_t> bytes) {
    int fd = testbed_.deviceSideFd(devnode_);
    if (fd < 0) return false;
    while (!bytes.empty()) {
        auto written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes = bytes.subspan(std::size_t(written));
    }
    return true;
}

int EmulatedNode::handleIoctl(_UMockdevIoctlBase*, _UMockdevIoctlClient* client, void* self) {
    auto& node = *static_cast<EmulatedNode*>(self);
    std::lock_guard lock(node.mutex_);
    unsigned long request = umockdev_ioctl_client_get_request(client);
    auto found = node.ioctls_.find(request);
    const IoctlHandler* handler = found != node.ioctls_.end() ? &found->second
                                  : node.anyIoctl_            ? &node.anyIoctl_
                                                              : nullptr;
    if (!handler) return FALSE;
    auto call = std::make_shared<IoctlCall>(client, request);
    if ((*handler)(call)) return TRUE;
    call->leave();
    return FALSE;
}

int EmulatedNode::handleWrite(_UMockdevIoctlBase*, _UMockdevIoctlClient* client, void* self) {
    auto& node = *static_cast<EmulatedNode*>(self);
    std::lock_guard lock(node.mutex_);
    if (!node.write_) return FALSE;
    // The argument of a write is the written buffer itself.
    UMockdevIoctlData* data = umockdev_ioctl_client_get_arg(client);
    if (!data || data->data_len < 0) return FALSE;
    std::size_t size = std::size_t(data->data_len);
    int answer = node.write_(client, {data->data, size});
    if (answer == passThrough) return FALSE;
    if (answer == 0)
        umockdev_ioctl_client_complete(client, long(size), 0);
    else
        umockdev_ioctl_client_complete(client, -1, answer);
    return TRUE;
}

int EmulatedNode::handleRead(_UMockdevIoctlBase*, _UMockdevIoctlClient* client, void* self) {
    auto& node = *static_cast<EmulatedNode*>(self);
    std::lock_guard lock(node.mutex_);
    if (node.readError_ == 0) return FALSE;
    umockdev_ioctl_client_complete(client, -1, node.readError_);
    return TRUE;
}

}  // namespace tindlewave::testkit::umockdev
