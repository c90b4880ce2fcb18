#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "Platform/Linux/System/UniqueFd.h"

namespace tindlewave {

class FolderWatchDescriptor;

// How long a burst of folder changes is gathered before its one callback.
inline constexpr std::chrono::milliseconds folderWatchLatency{150};

// A FolderWatchDescriptor driven by a thread of its own: the first change after a quiet spell
// starts a window of `latency`; when it closes, `changed` is called once on that thread for
// everything seen in it. Whoever has an event loop with fd sources can drive a
// FolderWatchDescriptor directly instead. The destructor stops and joins the thread; no callback
// runs after it has returned.
class FolderWatchThread {
  public:
    FolderWatchThread(std::string folder, std::function<void()> changed,
                      std::chrono::nanoseconds latency = folderWatchLatency);
    ~FolderWatchThread();
    FolderWatchThread(const FolderWatchThread&) = delete;
    FolderWatchThread& operator=(const FolderWatchThread&) = delete;

    // False when no watch could be set up (the system refused an inotify instance).
    bool isWatching() const;

  private:
    void run();

    std::unique_ptr<FolderWatchDescriptor> watch_;
    std::function<void()> changed_;
    std::chrono::nanoseconds latency_;
    UniqueFd stopFd_;  // an eventfd that ends the thread
    std::thread thread_;
};

}  // namespace tindlewave
