#pragma once
// The foundation's ordered map: `map_base` is an untyped red-black tree whose entries are
// described by an element-operations record and whose keys by a key-operations record; its code
// exists once for every key and value type. `map<K, V>` is a thin typed front; `set<K>` is a
// map whose entry is its key. Nodes and entries come from the process heap. Not synchronised.
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <tuple>
#include <type_traits>
#include <utility>

#include "vantor/core/element_ops.h"

namespace vantor_stl {

// Every entry begins with its key, so `less` serves for entries and keys alike.
struct key_ops {
    bool (*less)(const void* a, const void* b);
    // Builds an entry in raw storage from a key: the key is copied, the value default-built.
    void (*construct_from_key)(void* entry, const void* key);
};

class map_base {
public:
    struct node {
        void* entry;
        node* left;
        node* right;
        node* parent;
        std::uint32_t colour;  // 1 red, 0 black
    };

    map_base(const element_ops* entry_ops, const key_ops* keys) noexcept
        : entry_ops_(entry_ops), keys_(keys)
    {
    }
    // Same operations; a copy of every entry, inserted in order.
    map_base(const map_base& other);
    map_base(map_base&& other) noexcept;
    map_base& operator=(const map_base& other);
    map_base& operator=(map_base&& other) noexcept;
    // Frees every node without recursion.
    ~map_base();

    // The node holding `key`, or null.
    node* find(const void* key) const;
    bool contains(const void* key) const { return find(key) != nullptr; }
    // The entry for `key`, inserted (built from the key) when absent.
    void* find_or_insert(const void* key);
    // Builds an entry with `build` (entry, argument) and links it. When its key is present the
    // new entry is destroyed again, the old one stays, and the old node comes back with false.
    std::pair<node*, bool> insert(construct_fn build, const void* argument);
    // 1 when an entry was removed, else 0.
    std::size_t erase(const void* key);
    // Unlinks and frees one node of this map; null does nothing.
    void erase_node(node* n);
    void clear() noexcept;
    // Replaces the entries with copies of the other's; nothing when assigning to itself.
    void assign(const map_base& other);
    void swap(map_base& other) noexcept;

    // The leftmost and rightmost nodes; null when empty.
    node* begin() const noexcept;
    node* last() const noexcept;
    // In-order steps; null is the end position, from which next goes to the first node and
    // prev to the last.
    node* next(node* n) const noexcept;
    node* prev(node* n) const noexcept;

    std::size_t size() const noexcept { return count_; }

    // Checks order, colours, black heights, parent links and the count; for tests.
    bool check_invariants_for_testing() const;

private:
    void insert_fixup(node* n) noexcept;
    void erase_fixup(node* x, node* x_parent) noexcept;
    void rotate_left(node* n) noexcept;
    void rotate_right(node* n) noexcept;
    void replace_child(node* parent, node* old_child, node* new_child) noexcept;
    // Links a fresh node below the leaf position where its key belongs, or returns the node
    // that already holds the key.
    node* link(node* fresh) noexcept;
    void free_node(node* n) noexcept;
    void destroy_all() noexcept;

    const element_ops* entry_ops_;
    const key_ops* keys_;
    node* root_ = nullptr;
    std::uint32_t count_ = 0;
};

namespace detail {

template <typename K>
bool key_less(const void* a, const void* b)
{
    return *static_cast<const K*>(a) < *static_cast<const K*>(b);
}

// Only maps whose value type has a default constructor can find-or-insert; for the others
// operator[] does not compile.
template <typename K, typename Entry>
void entry_from_key(void* entry, const void* key)
{
    if constexpr (std::is_default_constructible_v<typename Entry::second_type>) {
        ::new (entry) Entry(std::piecewise_construct,
                            std::forward_as_tuple(*static_cast<const K*>(key)), std::tuple<>());
    }
}

template <typename K>
void key_copy(void* entry, const void* key)
{
    ::new (entry) K(*static_cast<const K*>(key));
}

template <typename K, typename V>
inline constexpr key_ops map_key_ops_of{&key_less<K>, &entry_from_key<K, std::pair<const K, V>>};

template <typename K>
inline constexpr key_ops set_key_ops_of{&key_less<K>, &key_copy<K>};

// A bidirectional iterator over a map_base whose entries are of type Entry.
template <typename Entry>
class map_iterator {
public:
    using iterator_category = std::bidirectional_iterator_tag;
    using value_type = std::remove_const_t<Entry>;
    using difference_type = std::ptrdiff_t;
    using pointer = Entry*;
    using reference = Entry&;

    map_iterator() = default;
    map_iterator(const map_base* map, map_base::node* at) : map_(map), at_(at) {}
    template <typename Other>
        requires std::is_same_v<const Other, Entry> && (!std::is_same_v<Other, Entry>)
    map_iterator(const map_iterator<Other>& other) : map_(other.map_), at_(other.at_)
    {
    }

    Entry& operator*() const { return *static_cast<Entry*>(at_->entry); }
    Entry* operator->() const { return static_cast<Entry*>(at_->entry); }
    map_iterator& operator++()
    {
        at_ = map_->next(at_);
        return *this;
    }
    map_iterator operator++(int)
    {
        map_iterator old = *this;
        ++*this;
        return old;
    }
    map_iterator& operator--()
    {
        at_ = map_->prev(at_);
        return *this;
    }
    map_iterator operator--(int)
    {
        map_iterator old = *this;
        --*this;
        return old;
    }
    friend bool operator==(const map_iterator& a, const map_iterator& b) { return a.at_ == b.at_; }

    map_base::node* node_for_map() const { return at_; }

private:
    template <typename>
    friend class map_iterator;

    const map_base* map_ = nullptr;
    map_base::node* at_ = nullptr;
};

}  // namespace detail

template <typename K, typename V>
class map {
public:
    using key_type = K;
    using mapped_type = V;
    using value_type = std::pair<const K, V>;
    using iterator = detail::map_iterator<value_type>;
    using const_iterator = detail::map_iterator<const value_type>;

    static_assert(alignof(value_type) <= heap_alignment, "entry alignment exceeds the heap's");

    map() noexcept : base_(&element_ops_of<value_type>, &detail::map_key_ops_of<K, V>) {}

    std::size_t size() const noexcept { return base_.size(); }
    bool empty() const noexcept { return base_.size() == 0; }

    iterator begin() noexcept { return {&base_, base_.begin()}; }
    iterator end() noexcept { return {&base_, nullptr}; }
    const_iterator begin() const noexcept { return {&base_, base_.begin()}; }
    const_iterator end() const noexcept { return {&base_, nullptr}; }

    iterator find(const K& key) noexcept { return {&base_, base_.find(&key)}; }
    const_iterator find(const K& key) const noexcept { return {&base_, base_.find(&key)}; }
    bool contains(const K& key) const noexcept { return base_.contains(&key); }

    // Find-or-insert: the value for `key`, default-built when the key was absent.
    V& operator[](const K& key)
    {
        static_assert(std::is_default_constructible_v<V>);
        return static_cast<value_type*>(base_.find_or_insert(&key))->second;
    }

    // Inserts a copy of `entry` unless its key is present (the present value is kept).
    std::pair<iterator, bool> insert(const value_type& entry)
    {
        auto r = base_.insert(element_ops_of<value_type>.copy, &entry);
        return {iterator(&base_, r.first), r.second};
    }
    template <typename... Args>
    std::pair<iterator, bool> emplace(Args&&... args)
    {
        auto build = [&](void* e) { ::new (e) value_type(std::forward<Args>(args)...); };
        auto r = base_.insert(&detail::call_builder<decltype(build)>, &build);
        return {iterator(&base_, r.first), r.second};
    }

    std::size_t erase(const K& key) { return base_.erase(&key); }
    // Returns the position after the erased entry.
    iterator erase(const_iterator pos)
    {
        map_base::node* n = pos.node_for_map();
        map_base::node* following = base_.next(n);
        base_.erase_node(n);
        return {&base_, following};
    }
    void clear() noexcept { base_.clear(); }
    void swap(map& other) noexcept { base_.swap(other.base_); }

    bool check_invariants_for_testing() const { return base_.check_invariants_for_testing(); }

private:
    map_base base_;
};

template <typename K>
class set {
public:
    using key_type = K;
    using value_type = K;
    using iterator = detail::map_iterator<const K>;
    using const_iterator = iterator;

    static_assert(alignof(K) <= heap_alignment, "key alignment exceeds the heap's");

    set() noexcept : base_(&element_ops_of<K>, &detail::set_key_ops_of<K>) {}

    std::size_t size() const noexcept { return base_.size(); }
    bool empty() const noexcept { return base_.size() == 0; }
    iterator begin() const noexcept { return {&base_, base_.begin()}; }
    iterator end() const noexcept { return {&base_, nullptr}; }
    iterator find(const K& key) const noexcept { return {&base_, base_.find(&key)}; }
    bool contains(const K& key) const noexcept { return base_.contains(&key); }

    std::pair<iterator, bool> insert(const K& key)
    {
        auto r = base_.insert(element_ops_of<K>.copy, &key);
        return {iterator(&base_, r.first), r.second};
    }
    std::size_t erase(const K& key) { return base_.erase(&key); }
    void clear() noexcept { base_.clear(); }
    void swap(set& other) noexcept { base_.swap(other.base_); }

private:
    map_base base_;
};

}  // namespace vantor_stl
