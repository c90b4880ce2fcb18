#pragma once

#include <string>

namespace tindlewave {

// A failed system call: its errno and the system's own description of it.
struct SystemError {
    int code = 0;
    std::string description;

    // The error of the current errno.
    static SystemError fromErrno();
    static SystemError fromCode(int code);

    bool operator==(const SystemError&) const = default;
};

}  // namespace tindlewave
