#include "vantor/core/list_base.h"

namespace vantor_stl {

void list_base::iterator::next() noexcept
{
    at = at != nullptr ? at->next : list->first_;
}

void list_base::iterator::prev() noexcept
{
    at = at != nullptr ? at->prev : list->last_;
}

list_base::list_base(const list_base& source) : list_base(source.ops_)
{
    copy_construct(source);
}

list_base::list_base(list_base&& other) noexcept
    : ops_(other.ops_), first_(other.first_), last_(other.last_), count_(other.count_)
{
    other.first_ = nullptr;
    other.last_ = nullptr;
    other.count_ = 0;
}

list_base& list_base::operator=(const list_base& other)
{
    if (this != &other) {
        list_base copy(other);
        swap(copy);
    }
    return *this;
}

list_base& list_base::operator=(list_base&& other) noexcept
{
    if (this != &other) {
        clear();
        swap(other);
    }
    return *this;
}

void list_base::init(const element_ops* ops) noexcept
{
    ops_ = ops;
    first_ = nullptr;
    last_ = nullptr;
    count_ = 0;
}

void list_base::copy_construct(const list_base& source)
{
    ops_ = source.ops_;
    for (node* n = source.first_; n != nullptr; n = n->next) {
        push_back_copy(n->value);
    }
}

list_base::node* list_base::make_node(construct_fn build, const void* argument)
{
    node* n = static_cast<node*>(heap_allocate(sizeof(node)));
    void* value = nullptr;
    try {
        value = heap_allocate(ops_->size);
        build(value, argument);
    } catch (...) {
        heap_free(value);
        heap_free(n);
        throw;
    }
    *n = node{value, nullptr, nullptr};
    return n;
}

void* list_base::push_back(construct_fn build, const void* argument)
{
    node* n = make_node(build, argument);
    n->prev = last_;
    if (last_ != nullptr) {
        last_->next = n;
    } else {
        first_ = n;
    }
    last_ = n;
    ++count_;
    return n->value;
}

void* list_base::push_front(const void* value)
{
    node* n = make_node(ops_->copy, value);
    n->next = first_;
    if (first_ != nullptr) {
        first_->prev = n;
    } else {
        last_ = n;
    }
    first_ = n;
    ++count_;
    return n->value;
}

void list_base::erase_node(node* n) noexcept
{
    if (n == nullptr) {
        return;
    }
    if (n->prev != nullptr) {
        n->prev->next = n->next;
    } else {
        first_ = n->next;
    }
    if (n->next != nullptr) {
        n->next->prev = n->prev;
    } else {
        last_ = n->prev;
    }
    --count_;
    ops_->destroy(n->value);
    heap_free(n->value);
    heap_free(n);
}

void list_base::erase_range(node* from, node* to) noexcept
{
    while (from != nullptr && from != to) {
        node* following = from->next;
        erase_node(from);
        from = following;
    }
}

void list_base::destroy() noexcept
{
    node* n = first_;
    while (n != nullptr) {
        node* following = n->next;
        ops_->destroy(n->value);
        heap_free(n->value);
        heap_free(n);
        n = following;
    }
}

void list_base::clear() noexcept
{
    destroy();
    first_ = nullptr;
    last_ = nullptr;
    count_ = 0;
}

void list_base::swap(list_base& other) noexcept
{
    std::swap(ops_, other.ops_);
    std::swap(first_, other.first_);
    std::swap(last_, other.last_);
    std::swap(count_, other.count_);
}

}  // namespace vantor_stl
