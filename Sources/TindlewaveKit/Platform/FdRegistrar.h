#pragma once

#include <cstdint>
#include <functional>

#include "Platform/Cancellable.h"

namespace tindlewave {

class Executor;

// Watches file descriptors for readiness on a serial executor's own thread. Platform code that
// reads devices (hidraw nodes, evdev nodes, a udev monitor) asks the executor it was scheduled on
// for this interface, so its reads run as that executor's callbacks with no thread hop.
class FdRegistrar {
  public:
    using FdCallback = std::function<void(std::uint32_t events)>;

    virtual ~FdRegistrar() = default;

    // Calls `callback` on the executor whenever `fd` is ready for `events` (EPOLLIN and so on;
    // level-triggered). The caller keeps owning the fd and cancels the watch before closing it;
    // once the watch is cancelled on the executor's own thread, the callback is not called again.
    // Fails (an empty handle) when the descriptor cannot be watched.
    virtual FdWatch addFd(int fd, std::uint32_t events, FdCallback callback) = 0;

    // The registrar of an executor that watches descriptors, or null.
    static FdRegistrar* of(Executor& executor);
};

}  // namespace tindlewave
