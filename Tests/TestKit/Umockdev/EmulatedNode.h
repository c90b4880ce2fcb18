#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

struct _UMockdevIoctlBase;
struct _UMockdevIoctlClient;

namespace tindlewave::testkit::umockdev {

class Testbed;

// One ioctl call of the program on an emulated node, as a handler sees it. A handler that takes
// the call completes it, at once or later from any thread (a held UI_DEV_CREATE, say); a call taken
// and dropped without completion fails with EIO, so the program never waits for ever.
class IoctlCall {
  public:
    IoctlCall(_UMockdevIoctlClient* client, unsigned long request);
    ~IoctlCall();
    IoctlCall(const IoctlCall&) = delete;
    IoctlCall& operator=(const IoctlCall&) = delete;

    // Which open of the node made the call: one value per descriptor the program opened.
    const void* client() const { return client_; }
    // The request number (`_IOC_NR`/`_IOC_SIZE` decode variable-length ones such as EVIOCGNAME).
    unsigned long request() const { return request_; }
    // The argument passed by value (EVIOCGRAB 1, UI_SET_EVBIT EV_KEY).
    unsigned long value() const;
    // The first `size` bytes the pointer argument points at; empty when they cannot be read. The
    // buffer is taken once, as large as the request number says (or as the first read or write
    // asks, when larger); later reads and writes stay within it.
    std::vector<std::uint8_t> read(std::size_t size);
    // Writes into the caller's buffer at `offset`; false when the buffer cannot be reached.
    bool write(std::span<const std::uint8_t> bytes, std::size_t offset = 0);

    template <class T>
    T readAs() {
        T value{};
        auto bytes = read(sizeof(T));
        if (bytes.size() == sizeof(T)) std::memcpy(&value, bytes.data(), sizeof(T));
        return value;
    }
    template <class T>
    bool writeAs(const T& value, std::size_t offset = 0) {
        return write({reinterpret_cast<const std::uint8_t*>(&value), sizeof(T)}, offset);
    }

    // Ends the call: the program's ioctl returns `result`, with errno `error` when it is -1.
    void complete(long result, int error = 0);
    bool completed() const { return completed_; }

  private:
    friend class EmulatedNode;
    bool resolve(std::size_t size);
    // A call the handler did not take: left to the emulation, neither completed nor failed here.
    void leave() { completed_ = true; }

    _UMockdevIoctlClient* client_;
    unsigned long request_;
    void* resolved_ = nullptr;  // UMockdevIoctlData of the pointer argument
    std::size_t resolvedSize_ = 0;
    std::mutex mutex_;
    bool completed_ = false;
};

// An emulated character node (/dev/hidraw0, /dev/input/event3, /dev/uinput) whose ioctls and
// writes go to handlers of the test, and into which the test writes what the program reads.
// Handlers run on the emulation's own thread, one call at a time. Make the node before the program
// opens it, and destroy it before the testbed (after the program closed it, or with the program's
// objects destroyed). Handlers are set before the program uses the node and may not set handlers.
class EmulatedNode {
  public:
    // Takes the call (true) or leaves it to the emulation's default answer (false: ENOTTY for an
    // ioctl it does not know).
    using IoctlHandler = std::function<bool(const std::shared_ptr<IoctlCall>& call)>;
    // One write() of the program: 0 accepts it whole, an errno value fails it with that error,
    // `passThrough` lets the bytes reach the test's end of the node.
    using WriteHandler = std::function<int(std::span<const std::uint8_t> bytes)>;
    // The same, told which open of the node wrote (as IoctlCall::client()): a node each open of
    // which is a device of its own (/dev/uinput).
    using ClientWriteHandler =
        std::function<int(const void* client, std::span<const std::uint8_t> bytes)>;
    static constexpr int passThrough = -1;

    EmulatedNode(Testbed& testbed, std::string devnode);
    ~EmulatedNode();
    EmulatedNode(const EmulatedNode&) = delete;
    EmulatedNode& operator=(const EmulatedNode&) = delete;

    // A handler for one request number, and one for any request no other handler took.
    void onIoctl(unsigned long request, IoctlHandler handler);
    void onAnyIoctl(IoctlHandler handler);
    void onWrite(WriteHandler handler);
    void onWriteFrom(ClientWriteHandler handler);

    // Makes the program's reads of the node fail with errno `error` from now on (0: read as
    // usual again). A read happens once the node is readable: send a byte to wake a reader.
    void failReads(int error);

    // Writes bytes the program then reads from the node; false when the write fails. Bytes sent
    // one after the other may reach the program in one read, as the emulated node keeps no
    // report or event boundaries.
    bool send(std::span<const std::uint8_t> bytes);

    const std::string& devnode() const { return devnode_; }

  private:
    static int handleIoctl(_UMockdevIoctlBase*, _UMockdevIoctlClient* client, void* self);
    static int handleWrite(_UMockdevIoctlBase*, _UMockdevIoctlClient* client, void* self);
    static int handleRead(_UMockdevIoctlBase*, _UMockdevIoctlClient* client, void* self);

    Testbed& testbed_;
    std::string devnode_;
    _UMockdevIoctlBase* handler_ = nullptr;
    std::mutex mutex_;  // handlers, and in-flight calls against the destructor
    std::map<unsigned long, IoctlHandler> ioctls_;
    IoctlHandler anyIoctl_;
    ClientWriteHandler write_;
    int readError_ = 0;
};

}  // namespace tindlewave::testkit::umockdev
