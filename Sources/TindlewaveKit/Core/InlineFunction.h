#pragma once

#include <cstddef>
#include <functional>
#include <new>
#include <type_traits>
#include <utility>

namespace tindlewave {

// A copyable `void()` callable like std::function<void()>, with room inside for what jobs and
// handles usually capture: up to four pointers' worth (a shared or weak pointer beside a `this`
// and an id), kept inline when it moves without throwing. std::function keeps only trivially
// copyable callables of two pointers inline, so a job holding a shared pointer cost an
// allocation each time it was made. Larger callables go to the heap, as with std::function.
// Calling an empty one throws std::bad_function_call.
class InlineFunction {
  public:
    static constexpr std::size_t inlineSize = 4 * sizeof(void*);

    // Whether a callable of type F is kept inline.
    template <class F>
    static constexpr bool isInline = sizeof(F) <= inlineSize && alignof(F) <= alignof(void*) &&
                                     std::is_nothrow_move_constructible_v<F>;

    InlineFunction() noexcept = default;
    InlineFunction(std::nullptr_t) noexcept {}

    template <class F, class D = std::decay_t<F>>
        requires(!std::is_same_v<D, InlineFunction> && std::is_invocable_v<D&> &&
                 std::is_copy_constructible_v<D>)
    InlineFunction(F&& f) {
        // As std::function: a null function pointer or an empty std::function makes an empty one.
        if constexpr (std::is_pointer_v<D> || std::is_member_pointer_v<D>) {
            if (f == nullptr) return;
        } else if constexpr (std::is_same_v<D, std::function<void()>>) {
            if (!f) return;
        }
        if constexpr (isInline<D>) {
            ::new (static_cast<void*>(storage_)) D(std::forward<F>(f));
        } else {
            *reinterpret_cast<D**>(storage_) = new D(std::forward<F>(f));
        }
        ops_ = &opsFor<D>;
    }

    InlineFunction(const InlineFunction& other) {
        if (other.ops_) other.ops_->copy(other.storage_, storage_);
        ops_ = other.ops_;
    }
    InlineFunction(InlineFunction&& other) noexcept {
        if (other.ops_) other.ops_->move(other.storage_, storage_);
        ops_ = std::exchange(other.ops_, nullptr);
    }
    InlineFunction& operator=(const InlineFunction& other) {
        if (this != &other) InlineFunction(other).swap(*this);
        return *this;
    }
    InlineFunction& operator=(InlineFunction&& other) noexcept {
        if (this != &other) {
            reset();
            if (other.ops_) other.ops_->move(other.storage_, storage_);
            ops_ = std::exchange(other.ops_, nullptr);
        }
        return *this;
    }
    InlineFunction& operator=(std::nullptr_t) noexcept {
        reset();
        return *this;
    }
    template <class F>
        requires(!std::is_same_v<std::decay_t<F>, InlineFunction>)
    InlineFunction& operator=(F&& f) {
        InlineFunction(std::forward<F>(f)).swap(*this);
        return *this;
    }
    ~InlineFunction() { reset(); }

    void swap(InlineFunction& other) noexcept {
        if (this == &other) return;
        InlineFunction held(std::move(other));
        other = std::move(*this);
        *this = std::move(held);
    }

    explicit operator bool() const noexcept { return ops_ != nullptr; }
    friend bool operator==(const InlineFunction& f, std::nullptr_t) noexcept { return !f; }

    void operator()() const {
        if (!ops_) throw std::bad_function_call();
        ops_->invoke(storage_);
    }

  private:
    struct Ops {
        void (*invoke)(void* storage);
        // Move-constructs into `to` and destroys what `from` held.
        void (*move)(void* from, void* to) noexcept;
        void (*copy)(const void* from, void* to);
        void (*destroy)(void* storage) noexcept;
    };

    template <class D>
    static D& held(void* storage) noexcept {
        if constexpr (isInline<D>)
            return *std::launder(reinterpret_cast<D*>(storage));
        else
            return **reinterpret_cast<D**>(storage);
    }

    template <class D>
    static constexpr Ops opsFor{
        [](void* storage) { static_cast<void>(held<D>(storage)()); },
        [](void* from, void* to) noexcept {
            if constexpr (isInline<D>) {
                ::new (to) D(std::move(held<D>(from)));
                held<D>(from).~D();
            } else {
                *reinterpret_cast<D**>(to) = *reinterpret_cast<D**>(from);
            }
        },
        [](const void* from, void* to) {
            const D& source = held<D>(const_cast<void*>(from));
            if constexpr (isInline<D>)
                ::new (to) D(source);
            else
                *reinterpret_cast<D**>(to) = new D(source);
        },
        [](void* storage) noexcept {
            if constexpr (isInline<D>)
                held<D>(storage).~D();
            else
                delete *reinterpret_cast<D**>(storage);
        },
    };

    void reset() noexcept {
        if (auto* ops = std::exchange(ops_, nullptr)) ops->destroy(storage_);
    }

    // The callable itself, or a pointer to it on the heap; mutable as std::function's target is
    // (a const function calls a non-const callable).
    alignas(void*) mutable unsigned char storage_[inlineSize];
    const Ops* ops_ = nullptr;
};

}  // namespace tindlewave
