#pragma once

#include <utility>

#include "Core/InlineFunction.h"

namespace tindlewave {

// A move-only handle that undoes one registration (a timer, a channel subscription, a watched
// file descriptor). Cancelling twice, after the thing has already fired or ended, or from inside
// its own callback is harmless. Destroying the handle cancels.
class Cancellable {
  public:
    Cancellable() = default;
    explicit Cancellable(InlineFunction cancel) : cancel_(std::move(cancel)) {}
    Cancellable(Cancellable&& other) noexcept : cancel_(std::exchange(other.cancel_, nullptr)) {}
    Cancellable& operator=(Cancellable&& other) noexcept {
        if (this != &other) {
            cancel();
            cancel_ = std::exchange(other.cancel_, nullptr);
        }
        return *this;
    }
    Cancellable(const Cancellable&) = delete;
    Cancellable& operator=(const Cancellable&) = delete;
    ~Cancellable() { cancel(); }

    void cancel() {
        if (auto cancel = std::exchange(cancel_, nullptr)) cancel();
    }
    // Lets go of the handle without cancelling: for a timer's handle once the timer has fired,
    // when nothing is left to cancel (cancelling would look for it under the executor's lock).
    void dismiss() { cancel_ = nullptr; }
    // True until cancel() has been called on this handle (or it was moved from).
    bool isArmed() const { return static_cast<bool>(cancel_); }

  private:
    InlineFunction cancel_;  // a weak pointer and an id fit inline: making a handle allocates nothing
};

using TimerHandle = Cancellable;
using Subscription = Cancellable;
using FdWatch = Cancellable;

}  // namespace tindlewave
