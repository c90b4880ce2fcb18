#pragma once

#include <string>

namespace tindlewave {

// The desktop's handlers for files and links. Results are not reported: a link that nothing
// opens simply does nothing.
class Workspace {
  public:
    virtual ~Workspace() = default;

    // Opens a link or a file in the user's default handler for it.
    virtual void open(const std::string& url) = 0;
    // Shows the file in the desktop's file manager.
    virtual void reveal(const std::string& path) = 0;
};

}  // namespace tindlewave
