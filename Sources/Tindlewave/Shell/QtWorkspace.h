#pragma once

#include "Settings/Model/Workspace.h"

namespace tindlewave {

// The desktop's handlers through Qt: links and files open in the user's default application
// (xdg-open on a desktop); a file is revealed through the desktop's file-manager service on the
// session bus, else its folder is opened. Links of the system the program was designed for (its
// settings panes) open nothing here. Results are ignored, as the callers expect.
class QtWorkspace final : public Workspace {
  public:
    void open(const std::string& url) override;
    void reveal(const std::string& path) override;
};

}  // namespace tindlewave
