#include "Platform/Linux/System/UniqueFd.h"

#include <unistd.h>

namespace tindlewave {

void UniqueFd::reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
}

bool UniqueFd::close() {
    if (fd_ < 0) return true;
    return ::close(std::exchange(fd_, -1)) == 0;
}

}  // namespace tindlewave
