#pragma once

#include <type_traits>
#include <utility>
#include <variant>

namespace tindlewave {

// A value or the error that prevented it. Failures are values throughout the kit: decoding,
// validation and I/O hand back a Result instead of throwing.
template <class T, class E>
class Result {
    static_assert(!std::is_same_v<T, E>, "a Result needs distinct value and error types");

public:
    Result(T value) : storage_(std::in_place_index<0>, std::move(value)) {}
    Result(E error) : storage_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return storage_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & { return std::get<0>(storage_); }
    const T& value() const& { return std::get<0>(storage_); }
    T&& value() && { return std::get<0>(std::move(storage_)); }
    const E& error() const { return std::get<1>(storage_); }

    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }

    bool operator==(const Result&) const = default;

private:
    std::variant<T, E> storage_;
};

}  // namespace tindlewave
