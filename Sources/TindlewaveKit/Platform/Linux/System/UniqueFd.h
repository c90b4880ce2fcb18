#pragma once

#include <utility>

namespace tindlewave {

// The one owner of a file descriptor: it closes the descriptor when it is destroyed, reset or
// assigned another. It moves and is never copied. -1 stands for none.
class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    bool isOpen() const { return fd_ >= 0; }
    // Gives the descriptor up without closing it.
    int release() { return std::exchange(fd_, -1); }
    // Closes the descriptor held (if any) and holds `fd` instead.
    void reset(int fd = -1);
    // Closes now; false when close failed, which may report a deferred write error. Holds none
    // afterwards either way.
    bool close();

  private:
    int fd_ = -1;
};

}  // namespace tindlewave
