#pragma once

#include <string>

namespace tindlewave {

// Without a runtime directory the toolkit makes one of its own in the temporary folder
// (runtime-<user>, with a warning). When this run made it, it goes at quit if it is still empty,
// and at an exit the toolkit makes at once (its display gone).
// Make it before the application, so that it goes after it.
class ToolkitRuntimeFolder {
  public:
    ToolkitRuntimeFolder();
    ~ToolkitRuntimeFolder();
    ToolkitRuntimeFolder(const ToolkitRuntimeFolder&) = delete;
    ToolkitRuntimeFolder& operator=(const ToolkitRuntimeFolder&) = delete;

  private:
    std::string path_;  // empty: not this run's to remove
};

}  // namespace tindlewave
