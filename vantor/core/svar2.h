#pragma once
// A value that holds one of two alternatives, for results that are either a value or the
// exception that took its place.
#include <variant>

namespace vantor {

// index() 0: the first alternative, 1: the second; read with std::get or std::get_if.
template <typename A, typename B>
using svar2 = std::variant<A, B>;

}  // namespace vantor
