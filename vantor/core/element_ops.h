#pragma once
// What the type-erased containers (vector, map, list) know of an element type: one constant
// record per type with its size and the three operations they need. The containers relocate
// elements only by copy-construct followed by destroy; there is no move operation.
#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>

namespace vantor_stl {

// Builds an element in raw storage from an argument whose meaning the caller defines (the
// source element for a copy, a builder object for an emplace).
using construct_fn = void (*)(void* element, const void* argument);

struct element_ops {
    std::uint32_t size;
    void (*destroy)(void* element);
    void (*construct)(void* element);
    void (*copy)(void* destination, const void* source);
};

// Blocks from the process heap are aligned to 8 bytes on this platform; element types must
// not ask for more.
inline constexpr std::size_t heap_alignment = 8;

// HeapAlloc on the process heap; throws std::bad_alloc when the heap refuses.
void* heap_allocate(std::size_t bytes);
// HeapFree on the process heap; null is ignored.
void heap_free(void* block) noexcept;

namespace detail {

template <typename T>
void destroy_element(void* element)
{
    static_cast<T*>(element)->~T();
}

template <typename T>
void construct_element(void* element)
{
    if constexpr (std::is_default_constructible_v<T>) {
        ::new (element) T();
    }
}

template <typename T>
void copy_element(void* destination, const void* source)
{
    ::new (destination) T(*static_cast<const T*>(source));
}

// Calls the builder object that `argument` points at with the raw element storage; lets a
// typed front pass a lambda where a construct_fn is expected.
template <typename F>
void call_builder(void* element, const void* argument)
{
    (*static_cast<const F*>(argument))(element);
}

}  // namespace detail

// The one record for the element type T. A type without a default constructor has no
// construct operation; the typed fronts refuse to compile the calls that would need it.
template <typename T>
inline constexpr element_ops element_ops_of{
    static_cast<std::uint32_t>(sizeof(T)),
    &detail::destroy_element<T>,
    std::is_default_constructible_v<T> ? &detail::construct_element<T> : nullptr,
    &detail::copy_element<T>,
};

}  // namespace vantor_stl
