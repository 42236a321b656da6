#pragma once
// The foundation's vector: `vector_base` does all the work on untyped storage through an
// element-operations record, so its code exists once for every element type; `vector<T>` is a
// thin typed front over it. Storage comes from the process heap.
//
// Capacity policy: a request for n elements keeps the storage while n <= capacity <= 4n and
// otherwise reallocates to the smallest power of two that holds n, so the capacity grows by
// doubling and shrinks only when the size falls below a quarter of it. Not synchronised.
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <type_traits>
#include <utility>

#include "vantor/core/element_ops.h"

namespace vantor_stl {

// How the range constructor walks a caller's iterator: equality with the end and one step.
struct iterator_ops {
    bool (*equal)(const void* a, const void* b);
    void (*advance)(void* iterator);
};

class vector_base {
public:
    explicit vector_base(const element_ops* ops) noexcept : ops_(ops) {}
    // n default-constructed elements; the capacity is exactly n.
    vector_base(const element_ops* ops, std::size_t n);
    // One element per position from `first` (advanced in place) up to `last`, each built by
    // `build` (element, iterator).
    vector_base(const element_ops* ops, void* first, const void* last, const iterator_ops* walk,
                construct_fn build);
    // The copy keeps the source's capacity.
    vector_base(const vector_base& other);
    vector_base(vector_base&& other) noexcept;
    vector_base& operator=(const vector_base& other);
    vector_base& operator=(vector_base&& other) noexcept;
    ~vector_base();

    // Destroys this vector's elements, then copies the other's; nothing when assigning to itself.
    void assign(const vector_base& other);
    // Destroys every element and frees the storage without resetting the fields.
    void destroy() noexcept;

    // Applies the capacity policy to max(n, size); reserve(0) of an empty vector frees storage.
    void reserve(std::size_t n);
    // Destroys elements from the end down to n, reserves n, default-constructs up to n.
    void resize(std::size_t n);

    // Appends one element built by `build` (element, argument) and returns it. The argument may
    // be an element of this vector: on reallocation the new element is built before the old
    // storage is released.
    void* emplace_back(construct_fn build, const void* argument);
    void* push_back(const void* value) { return emplace_back(ops_->copy, value); }
    // Opens a slot before `index` and builds the element there. The argument must not lie in
    // this vector's storage (the typed front copies such a value first).
    void* insert(std::size_t index, construct_fn build, const void* argument);
    // Erases [first, last); the tail moves down and the storage stays, unless the range covers
    // every element, which clears the vector.
    void erase(std::size_t first, std::size_t last);
    // Destroys the last element, then reserves for the new size (which may shrink).
    void pop_back();
    // Destroys every element and frees the storage; size and capacity become 0.
    void clear() noexcept;
    // Same size and `same` true for every pair of elements.
    bool equals(const vector_base& other, bool (*same)(const void* a, const void* b)) const;
    // The element at `index`; an index at or past the size throws vantor_stl::exception.
    void* at(std::size_t index) const;
    void swap(vector_base& other) noexcept;

    void* element(std::size_t index) const noexcept
    {
        return static_cast<char*>(data_) + index * ops_->size;
    }
    void* data() const noexcept { return data_; }
    std::size_t size() const noexcept { return size_; }
    std::size_t capacity() const noexcept { return capacity_; }
    const element_ops* ops() const noexcept { return ops_; }

private:
    // Moves every element into fresh storage of `new_capacity` elements. When `slot` is not
    // `no_slot`, the element at that index is first built there by `build` and the old ones
    // after it land one place higher.
    void relocate(std::size_t new_capacity, std::size_t slot, construct_fn build,
                  const void* argument);
    static constexpr std::size_t no_slot = static_cast<std::size_t>(-1);

    const element_ops* ops_;
    void* data_ = nullptr;
    std::uint32_t size_ = 0;
    std::uint32_t capacity_ = 0;
};

namespace detail {

template <typename It>
bool iterator_equal(const void* a, const void* b)
{
    return *static_cast<const It*>(a) == *static_cast<const It*>(b);
}

template <typename It>
void iterator_advance(void* it)
{
    ++*static_cast<It*>(it);
}

template <typename It>
inline constexpr iterator_ops iterator_ops_of{&iterator_equal<It>, &iterator_advance<It>};

template <typename T, typename It>
void build_from_iterator(void* element, const void* it)
{
    ::new (element) T(**static_cast<const It*>(it));
}

template <typename T>
bool elements_equal(const void* a, const void* b)
{
    return *static_cast<const T*>(a) == *static_cast<const T*>(b);
}

}  // namespace detail

template <typename T>
class vector {
    static_assert(alignof(T) <= heap_alignment, "element alignment exceeds the heap's");

public:
    using value_type = T;
    using size_type = std::size_t;
    using iterator = T*;
    using const_iterator = const T*;
    using reference = T&;
    using const_reference = const T&;

    vector() noexcept : base_(&element_ops_of<T>) {}
    explicit vector(std::size_t n) : base_(&element_ops_of<T>, n)
    {
        static_assert(std::is_default_constructible_v<T>);
    }
    template <std::input_iterator It>
    vector(It first, It last)
        : base_(&element_ops_of<T>, &first, &last, &detail::iterator_ops_of<It>,
                &detail::build_from_iterator<T, It>)
    {
    }
    vector(std::initializer_list<T> init) : vector(init.begin(), init.end()) {}

    std::size_t size() const noexcept { return base_.size(); }
    std::size_t capacity() const noexcept { return base_.capacity(); }
    bool empty() const noexcept { return base_.size() == 0; }

    T* data() noexcept { return static_cast<T*>(base_.data()); }
    const T* data() const noexcept { return static_cast<const T*>(base_.data()); }
    iterator begin() noexcept { return data(); }
    iterator end() noexcept { return data() + size(); }
    const_iterator begin() const noexcept { return data(); }
    const_iterator end() const noexcept { return data() + size(); }

    T& operator[](std::size_t i) noexcept { return data()[i]; }
    const T& operator[](std::size_t i) const noexcept { return data()[i]; }
    T& at(std::size_t i) { return *static_cast<T*>(base_.at(i)); }
    const T& at(std::size_t i) const { return *static_cast<const T*>(base_.at(i)); }
    T& front() noexcept { return data()[0]; }
    const T& front() const noexcept { return data()[0]; }
    T& back() noexcept { return data()[size() - 1]; }
    const T& back() const noexcept { return data()[size() - 1]; }

    void reserve(std::size_t n) { base_.reserve(n); }
    void resize(std::size_t n)
    {
        static_assert(std::is_default_constructible_v<T>);
        base_.resize(n);
    }
    void clear() noexcept { base_.clear(); }
    void pop_back() { base_.pop_back(); }

    T& push_back(const T& value) { return *static_cast<T*>(base_.push_back(&value)); }
    template <typename... Args>
    T& emplace_back(Args&&... args)
    {
        auto build = [&](void* element) { ::new (element) T(std::forward<Args>(args)...); };
        return *static_cast<T*>(base_.emplace_back(&detail::call_builder<decltype(build)>, &build));
    }

    iterator insert(const_iterator pos, const T& value)
    {
        std::size_t index = static_cast<std::size_t>(pos - begin());
        if (&value >= begin() && &value < end()) {
            // The slots from `pos` on move up before the copy is made.
            T copy(value);
            base_.insert(index, element_ops_of<T>.copy, &copy);
        } else {
            base_.insert(index, element_ops_of<T>.copy, &value);
        }
        return begin() + index;
    }
    iterator erase(const_iterator first, const_iterator last)
    {
        std::size_t index = static_cast<std::size_t>(first - begin());
        base_.erase(index, static_cast<std::size_t>(last - begin()));
        return begin() + index;
    }
    iterator erase(const_iterator pos) { return erase(pos, pos + 1); }

    void swap(vector& other) noexcept { base_.swap(other.base_); }

    friend bool operator==(const vector& a, const vector& b)
    {
        return a.base_.equals(b.base_, &detail::elements_equal<T>);
    }

private:
    vector_base base_;
};

}  // namespace vantor_stl
