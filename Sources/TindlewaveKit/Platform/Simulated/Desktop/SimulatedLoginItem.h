#pragma once

#include <optional>
#include <string>
#include <utility>

#include "Platform/LoginItem.h"

namespace tindlewave {

// The login item of the simulated desktop, in memory: switching it changes nothing of the user's
// session (no autostart entry is written), and it reads as switched. Its state can be set as if
// changed elsewhere, and its next change made to fail with a reason. One thread at a time.
class SimulatedLoginItem final : public LoginItemService {
  public:
    LoginItemState status() const override { return state_; }
    std::optional<std::string> enable() override { return change(LoginItemState::on); }
    std::optional<std::string> disable() override { return change(LoginItemState::off); }

    void set(LoginItemState state) { state_ = state; }
    void failNextChange(std::string reason) { failure_ = std::move(reason); }

  private:
    std::optional<std::string> change(LoginItemState to) {
        if (failure_) return std::exchange(failure_, std::nullopt);
        state_ = to;
        return std::nullopt;
    }

    LoginItemState state_ = LoginItemState::off;
    std::optional<std::string> failure_;
};

}  // namespace tindlewave
