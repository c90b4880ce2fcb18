#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "Platform/Cancellable.h"

namespace tindlewave {

// A value whose changes are told to observers: setting a value equal to the stored one changes
// nothing and tells no one.
template <class T>
class Observed {
  public:
    Observed() = default;
    explicit Observed(T initial) : value_(std::move(initial)) {}

    const T& get() const { return value_; }

    // Stores `value`; true when it differed from the stored one (the caller then tells its
    // observers).
    bool set(T value) {
        if (value_ == value) return false;
        value_ = std::move(value);
        return true;
    }

  private:
    T value_{};
};

// The observers of one object's observed fields, each told which field changed. Used on one
// executor only (the main one): observers run inline, in the order they subscribed, and may
// subscribe or cancel while being told.
template <class Field>
class Observers {
  public:
    using Callback = std::function<void(Field)>;

    // Calls `callback` after every change until the subscription is cancelled or dropped. The
    // subscription may outlive this object.
    [[nodiscard]] Subscription observe(Callback callback) {
        auto id = state_->nextId++;
        state_->callbacks.emplace(id, std::make_shared<Callback>(std::move(callback)));
        std::weak_ptr<State> weak = state_;
        return Subscription([weak, id] {
            if (auto state = weak.lock()) state->callbacks.erase(id);
        });
    }

    void changed(Field field) const {
        // A copy, so observers may come and go while they are told; one that was cancelled by
        // an earlier observer is skipped.
        std::vector<std::pair<std::uint64_t, std::shared_ptr<Callback>>> told(
            state_->callbacks.begin(), state_->callbacks.end());
        for (auto& [id, callback] : told)
            if (state_->callbacks.contains(id)) (*callback)(field);
    }

    // Sets `observed` to `value` and tells the observers of `field` when it changed.
    template <class T>
    bool assign(Observed<T>& observed, T value, Field field) const {
        if (!observed.set(std::move(value))) return false;
        changed(field);
        return true;
    }

  private:
    struct State {
        std::uint64_t nextId = 0;
        std::map<std::uint64_t, std::shared_ptr<Callback>> callbacks;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace tindlewave
