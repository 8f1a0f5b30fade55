// The position of a type among a variant's alternatives, as a constant: switches on a
// variant's index name their cases by type, so that reordering the alternatives cannot pair
// a case with the wrong one.
#pragma once

#include <cstddef>
#include <type_traits>
#include <variant>

namespace remitrax {

namespace detail {

template <class T, class Variant>
struct IndexOf;

template <class T, class... Alternatives>
struct IndexOf<T, std::variant<Alternatives...>> {
    static_assert((std::size_t{std::is_same_v<T, Alternatives>} + ...) == 1,
                  "the variant holds the type exactly once");
    static constexpr std::size_t value = [] {
        std::size_t i = 0;
        // Counts the alternatives before the first that is T.
        (void)((std::is_same_v<T, Alternatives> ? false : (++i, true)) && ...);
        return i;
    }();
};

}  // namespace detail

// The index of alternative T in Variant; a T that Variant does not hold exactly once does not
// compile.
template <class T, class Variant>
inline constexpr std::size_t index_of = detail::IndexOf<T, Variant>::value;

}  // namespace remitrax
