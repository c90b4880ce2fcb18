#include "Platform/Linux/System/SystemError.h"

#include <cerrno>
#include <cstring>

namespace tindlewave {

SystemError SystemError::fromErrno() {
    return fromCode(errno);
}

SystemError SystemError::fromCode(int code) {
    char buffer[256];
    // The GNU strerror_r returns the text, which may or may not live in the buffer.
    const char* text = strerror_r(code, buffer, sizeof buffer);
    return {code, text};
}

}  // namespace tindlewave
