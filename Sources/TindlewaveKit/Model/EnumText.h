#pragma once

#include <optional>
#include <span>
#include <string_view>

namespace tindlewave {

// The one scheme for the texts of the kit's enumerations:
//   toText(value)        the case's text (an overload per enumeration, next to it);
//   fromText<E>(text)    the case with exactly this text (case-sensitive), or none;
//   allCases<E>()        every case, in case order.
// Each enumeration that has texts declares its specialisations beside its own definition.
template <class E>
std::optional<E> fromText(std::string_view text);

template <class E>
std::span<const E> allCases();

}  // namespace tindlewave
