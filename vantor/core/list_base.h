#pragma once
// The foundation's doubly linked list: `list_base` is the untyped core, knowing its element type
// only through an element-operations record, so one compiled body serves every element type;
// `list<T>` is a thin typed front. Each node and its value are two separate blocks from the
// process heap; the list never copies or moves a value on its own. Not synchronised: a list is
// guarded by its owner.
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <type_traits>
#include <utility>

#include "vantor/core/element_ops.h"

namespace vantor_stl {

class list_base {
public:
    struct node {
        void* value;
        node* prev;
        node* next;
    };

    // A position: a node, or none for the end position.
    struct iterator {
        const list_base* list;
        node* at;

        // To the following node; from the end position to the first node.
        void next() noexcept;
        // To the preceding node; from the end position to the last node.
        void prev() noexcept;
        friend bool operator==(const iterator& a, const iterator& b) { return a.at == b.at; }
    };

    explicit list_base(const element_ops* ops) noexcept { init(ops); }
    list_base(const list_base& source);
    list_base(list_base&& other) noexcept;
    list_base& operator=(const list_base& other);
    list_base& operator=(list_base&& other) noexcept;
    ~list_base() { destroy(); }

    // {operations, no nodes, count 0}; for storage that holds no nodes.
    void init(const element_ops* ops) noexcept;
    // Takes the source's operations and appends a copy of each source element in order; for a
    // list that holds no nodes.
    void copy_construct(const list_base& source);

    // Builds the value with `build` (value, argument) in a new last node and returns the value.
    // Allocation failure throws std::bad_alloc; a failing `build` frees the fresh node again.
    void* push_back(construct_fn build, const void* argument);
    void* push_back_copy(const void* value) { return push_back(ops_->copy, value); }
    // A copy of the value in a new first node.
    void* push_front(const void* value);

    // Unlinks, destroys and frees one node of this list; null does nothing.
    void erase_node(node* n) noexcept;
    // Erases from `from` up to, not including, `to` (null for the end).
    void erase_range(node* from, node* to) noexcept;
    void pop_front() noexcept { erase_node(first_); }
    void pop_back() noexcept { erase_node(last_); }
    // Destroys every node and resets first, last and count; the operations stay.
    void clear() noexcept;
    // Destroys every node without resetting the fields (the destructor's body).
    void destroy() noexcept;
    void swap(list_base& other) noexcept;

    iterator begin() const noexcept { return {this, first_}; }
    iterator rbegin() const noexcept { return {this, last_}; }
    iterator end() const noexcept { return {this, nullptr}; }

    node* first() const noexcept { return first_; }
    node* last() const noexcept { return last_; }
    std::size_t size() const noexcept { return count_; }
    const element_ops* ops() const noexcept { return ops_; }

private:
    // Allocates a node and its value and builds the value; the node is not linked.
    node* make_node(construct_fn build, const void* argument);

    const element_ops* ops_;
    node* first_;
    node* last_;
    std::uint32_t count_;
};

template <typename T>
class list {
    static_assert(alignof(T) <= heap_alignment, "element alignment exceeds the heap's");

    template <typename Value>
    class basic_iterator {
    public:
        using iterator_category = std::bidirectional_iterator_tag;
        using value_type = T;
        using difference_type = std::ptrdiff_t;
        using pointer = Value*;
        using reference = Value&;

        basic_iterator() = default;
        explicit basic_iterator(list_base::iterator at) : at_(at) {}
        template <typename Other>
            requires std::is_same_v<const Other, Value> && (!std::is_same_v<Other, Value>)
        basic_iterator(const basic_iterator<Other>& other) : at_(other.position())
        {
        }

        Value& operator*() const { return *static_cast<Value*>(at_.at->value); }
        Value* operator->() const { return static_cast<Value*>(at_.at->value); }
        basic_iterator& operator++()
        {
            at_.next();
            return *this;
        }
        basic_iterator operator++(int)
        {
            basic_iterator old = *this;
            at_.next();
            return old;
        }
        basic_iterator& operator--()
        {
            at_.prev();
            return *this;
        }
        basic_iterator operator--(int)
        {
            basic_iterator old = *this;
            at_.prev();
            return old;
        }
        friend bool operator==(const basic_iterator& a, const basic_iterator& b)
        {
            return a.at_ == b.at_;
        }
        list_base::iterator position() const { return at_; }

    private:
        list_base::iterator at_{nullptr, nullptr};
    };

public:
    using value_type = T;
    using iterator = basic_iterator<T>;
    using const_iterator = basic_iterator<const T>;

    list() noexcept : base_(&element_ops_of<T>) {}

    std::size_t size() const noexcept { return base_.size(); }
    bool empty() const noexcept { return base_.size() == 0; }

    iterator begin() noexcept { return iterator(base_.begin()); }
    iterator end() noexcept { return iterator(base_.end()); }
    const_iterator begin() const noexcept { return const_iterator(base_.begin()); }
    const_iterator end() const noexcept { return const_iterator(base_.end()); }

    T& front() noexcept { return *static_cast<T*>(base_.first()->value); }
    T& back() noexcept { return *static_cast<T*>(base_.last()->value); }
    const T& front() const noexcept { return *static_cast<const T*>(base_.first()->value); }
    const T& back() const noexcept { return *static_cast<const T*>(base_.last()->value); }

    T& push_back(const T& value) { return *static_cast<T*>(base_.push_back_copy(&value)); }
    template <typename... Args>
    T& emplace_back(Args&&... args)
    {
        auto build = [&](void* element) { ::new (element) T(std::forward<Args>(args)...); };
        return *static_cast<T*>(base_.push_back(&detail::call_builder<decltype(build)>, &build));
    }
    T& push_front(const T& value) { return *static_cast<T*>(base_.push_front(&value)); }
    void pop_front() noexcept { base_.pop_front(); }
    void pop_back() noexcept { base_.pop_back(); }

    // Returns the position after the erased element.
    iterator erase(const_iterator pos) noexcept
    {
        list_base::iterator following = pos.position();
        following.next();
        base_.erase_node(pos.position().at);
        return iterator(following);
    }
    iterator erase(const_iterator from, const_iterator to) noexcept
    {
        base_.erase_range(from.position().at, to.position().at);
        return iterator(to.position());
    }
    void clear() noexcept { base_.clear(); }
    void swap(list& other) noexcept { base_.swap(other.base_); }

private:
    list_base base_;
};

}  // namespace vantor_stl
