#pragma once

#include <optional>
#include <string>

namespace tindlewave {

// Whether the program starts when the user logs in. `needsApproval` (registered, waiting for the
// user to allow it) is kept for desktops that ask; the autostart entry never does.
enum class LoginItemState { on, off, needsApproval };

// The desktop's list of programs started at login, as far as this program's own entry goes.
class LoginItemService {
  public:
    virtual ~LoginItemService() = default;

    virtual LoginItemState status() const = 0;
    // Adds the program to the list; the reason in words when that failed.
    virtual std::optional<std::string> enable() = 0;
    // Takes the program off the list; the reason in words when that failed.
    virtual std::optional<std::string> disable() = 0;
};

}  // namespace tindlewave
