#pragma once

#include <variant>

namespace tindlewave {

// The records that are one of several cases keep the case in a std::variant field named `value`.

// Whether `record` holds a C.
template <class C, class Record>
bool is(const Record& record) {
    return std::holds_alternative<C>(record.value);
}

// The C that `record` holds, or null when it holds another case.
template <class C, class Record>
const C* as(const Record& record) {
    return std::get_if<C>(&record.value);
}

}  // namespace tindlewave
