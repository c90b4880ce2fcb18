#pragma once

#include <optional>
#include <string>
#include <utility>

#include "Platform/LoginItem.h"

namespace tindlewave::testkit {

// A login item whose state and next failure the test sets.
struct FakeLoginItem final : LoginItemService {
    LoginItemState state = LoginItemState::off;
    std::optional<std::string> failure;  // the next change fails with this text
    mutable int reads = 0;

    LoginItemState status() const override {
        ++reads;
        return state;
    }
    std::optional<std::string> enable() override { return change(LoginItemState::on); }
    std::optional<std::string> disable() override { return change(LoginItemState::off); }

  private:
    std::optional<std::string> change(LoginItemState to) {
        if (failure) return std::exchange(failure, std::nullopt);
        state = to;
        return std::nullopt;
    }
};

}  // namespace tindlewave::testkit
