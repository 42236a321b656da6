#include "vantor/core/map.h"

#include "vantor/core/vector.h"

namespace vantor_stl {
namespace {

constexpr std::uint32_t red = 1;
constexpr std::uint32_t black = 0;

bool is_red(const map_base::node* n) { return n != nullptr && n->colour == red; }

map_base::node* leftmost(map_base::node* n)
{
    while (n->left != nullptr) {
        n = n->left;
    }
    return n;
}

map_base::node* rightmost(map_base::node* n)
{
    while (n->right != nullptr) {
        n = n->right;
    }
    return n;
}

}  // namespace

map_base::map_base(const map_base& other) : map_base(other.entry_ops_, other.keys_)
{
    for (node* n = other.begin(); n != nullptr; n = other.next(n)) {
        insert(entry_ops_->copy, n->entry);
    }
}

map_base::map_base(map_base&& other) noexcept
    : entry_ops_(other.entry_ops_), keys_(other.keys_), root_(other.root_), count_(other.count_)
{
    other.root_ = nullptr;
    other.count_ = 0;
}

map_base& map_base::operator=(const map_base& other)
{
    assign(other);
    return *this;
}

map_base& map_base::operator=(map_base&& other) noexcept
{
    if (this != &other) {
        clear();
        swap(other);
    }
    return *this;
}

map_base::~map_base() { destroy_all(); }

void map_base::assign(const map_base& other)
{
    if (this == &other) {
        return;
    }
    // Built aside first, so a failed copy leaves this map as it was.
    map_base copy(other);
    swap(copy);
}

void map_base::swap(map_base& other) noexcept
{
    std::swap(entry_ops_, other.entry_ops_);
    std::swap(keys_, other.keys_);
    std::swap(root_, other.root_);
    std::swap(count_, other.count_);
}

map_base::node* map_base::find(const void* key) const
{
    node* n = root_;
    while (n != nullptr) {
        if (keys_->less(n->entry, key)) {
            n = n->right;
        } else if (keys_->less(key, n->entry)) {
            n = n->left;
        } else {
            return n;
        }
    }
    return nullptr;
}

void* map_base::find_or_insert(const void* key)
{
    if (node* n = find(key); n != nullptr) {
        return n->entry;
    }
    return insert(keys_->construct_from_key, key).first->entry;
}

std::pair<map_base::node*, bool> map_base::insert(construct_fn build, const void* argument)
{
    node* fresh = static_cast<node*>(heap_allocate(sizeof(node)));
    void* entry = nullptr;
    try {
        entry = heap_allocate(entry_ops_->size);
        build(entry, argument);
    } catch (...) {
        heap_free(entry);
        heap_free(fresh);
        throw;
    }
    *fresh = node{entry, nullptr, nullptr, nullptr, red};
    if (node* existing = link(fresh); existing != nullptr) {
        free_node(fresh);
        return {existing, false};
    }
    return {fresh, true};
}

map_base::node* map_base::link(node* fresh) noexcept
{
    node* parent = nullptr;
    bool left = false;
    for (node* n = root_; n != nullptr;) {
        parent = n;
        if (keys_->less(fresh->entry, n->entry)) {
            left = true;
            n = n->left;
        } else if (keys_->less(n->entry, fresh->entry)) {
            left = false;
            n = n->right;
        } else {
            return n;
        }
    }
    fresh->parent = parent;
    if (parent == nullptr) {
        root_ = fresh;
    } else if (left) {
        parent->left = fresh;
    } else {
        parent->right = fresh;
    }
    ++count_;
    insert_fixup(fresh);
    return nullptr;
}

void map_base::replace_child(node* parent, node* old_child, node* new_child) noexcept
{
    if (parent == nullptr) {
        root_ = new_child;
    } else if (parent->left == old_child) {
        parent->left = new_child;
    } else {
        parent->right = new_child;
    }
}

void map_base::rotate_left(node* x) noexcept
{
    node* y = x->right;
    x->right = y->left;
    if (y->left != nullptr) {
        y->left->parent = x;
    }
    y->parent = x->parent;
    replace_child(x->parent, x, y);
    y->left = x;
    x->parent = y;
}

void map_base::rotate_right(node* x) noexcept
{
    node* y = x->left;
    x->left = y->right;
    if (y->right != nullptr) {
        y->right->parent = x;
    }
    y->parent = x->parent;
    replace_child(x->parent, x, y);
    y->right = x;
    x->parent = y;
}

void map_base::insert_fixup(node* n) noexcept
{
    while (n != root_ && is_red(n->parent)) {
        node* p = n->parent;
        node* g = p->parent;  // a red parent is never the root
        if (p == g->left) {
            node* uncle = g->right;
            if (is_red(uncle)) {
                p->colour = black;
                uncle->colour = black;
                g->colour = red;
                n = g;
            } else {
                if (n == p->right) {
                    n = p;
                    rotate_left(n);
                    p = n->parent;
                }
                p->colour = black;
                g->colour = red;
                rotate_right(g);
            }
        } else {
            node* uncle = g->left;
            if (is_red(uncle)) {
                p->colour = black;
                uncle->colour = black;
                g->colour = red;
                n = g;
            } else {
                if (n == p->left) {
                    n = p;
                    rotate_right(n);
                    p = n->parent;
                }
                p->colour = black;
                g->colour = red;
                rotate_left(g);
            }
        }
    }
    root_->colour = black;
}

std::size_t map_base::erase(const void* key)
{
    node* n = find(key);
    if (n == nullptr) {
        return 0;
    }
    erase_node(n);
    return 1;
}

void map_base::erase_node(node* z)
{
    if (z == nullptr) {
        return;
    }
    // x takes the place of the node that leaves its position; x_parent is kept apart because
    // x may be null.
    node* x = nullptr;
    node* x_parent = nullptr;
    std::uint32_t removed_colour = z->colour;
    if (z->left == nullptr || z->right == nullptr) {
        x = z->left != nullptr ? z->left : z->right;
        x_parent = z->parent;
        replace_child(z->parent, z, x);
        if (x != nullptr) {
            x->parent = z->parent;
        }
    } else {
        // Two children: the in-order successor is relinked into z's place, so nodes (and any
        // iterators on them) other than z stay where they are.
        node* y = leftmost(z->right);
        removed_colour = y->colour;
        x = y->right;
        if (y->parent == z) {
            x_parent = y;
        } else {
            x_parent = y->parent;
            replace_child(y->parent, y, x);
            if (x != nullptr) {
                x->parent = y->parent;
            }
            y->right = z->right;
            y->right->parent = y;
        }
        replace_child(z->parent, z, y);
        y->parent = z->parent;
        y->left = z->left;
        y->left->parent = y;
        y->colour = z->colour;
    }
    --count_;
    if (removed_colour == black) {
        erase_fixup(x, x_parent);
    }
    free_node(z);
}

void map_base::erase_fixup(node* x, node* x_parent) noexcept
{
    while (x != root_ && !is_red(x)) {
        if (x == x_parent->left) {
            node* w = x_parent->right;  // the removed black node guarantees a sibling
            if (is_red(w)) {
                w->colour = black;
                x_parent->colour = red;
                rotate_left(x_parent);
                w = x_parent->right;
            }
            if (!is_red(w->left) && !is_red(w->right)) {
                w->colour = red;
                x = x_parent;
                x_parent = x->parent;
            } else {
                if (!is_red(w->right)) {
                    w->left->colour = black;
                    w->colour = red;
                    rotate_right(w);
                    w = x_parent->right;
                }
                w->colour = x_parent->colour;
                x_parent->colour = black;
                w->right->colour = black;
                rotate_left(x_parent);
                x = root_;
            }
        } else {
            node* w = x_parent->left;
            if (is_red(w)) {
                w->colour = black;
                x_parent->colour = red;
                rotate_right(x_parent);
                w = x_parent->left;
            }
            if (!is_red(w->left) && !is_red(w->right)) {
                w->colour = red;
                x = x_parent;
                x_parent = x->parent;
            } else {
                if (!is_red(w->left)) {
                    w->right->colour = black;
                    w->colour = red;
                    rotate_left(w);
                    w = x_parent->left;
                }
                w->colour = x_parent->colour;
                x_parent->colour = black;
                w->left->colour = black;
                rotate_right(x_parent);
                x = root_;
            }
        }
    }
    if (x != nullptr) {
        x->colour = black;
    }
}

void map_base::free_node(node* n) noexcept
{
    entry_ops_->destroy(n->entry);
    heap_free(n->entry);
    heap_free(n);
}

void map_base::destroy_all() noexcept
{
    // An explicit stack instead of recursion, so the depth of the tree never reaches the
    // thread's stack.
    vector<node*> stack;
    stack.push_back(root_);
    while (!stack.empty()) {
        node* n = stack.back();
        stack.pop_back();
        if (n == nullptr) {
            continue;
        }
        stack.push_back(n->left);
        stack.push_back(n->right);
        free_node(n);
    }
}

void map_base::clear() noexcept
{
    destroy_all();
    root_ = nullptr;
    count_ = 0;
}

map_base::node* map_base::begin() const noexcept
{
    return root_ != nullptr ? leftmost(root_) : nullptr;
}

map_base::node* map_base::last() const noexcept
{
    return root_ != nullptr ? rightmost(root_) : nullptr;
}

map_base::node* map_base::next(node* n) const noexcept
{
    if (n == nullptr) {
        return begin();
    }
    if (n->right != nullptr) {
        return leftmost(n->right);
    }
    node* p = n->parent;
    while (p != nullptr && n == p->right) {
        n = p;
        p = p->parent;
    }
    return p;
}

map_base::node* map_base::prev(node* n) const noexcept
{
    if (n == nullptr) {
        return last();
    }
    if (n->left != nullptr) {
        return rightmost(n->left);
    }
    node* p = n->parent;
    while (p != nullptr && n == p->left) {
        n = p;
        p = p->parent;
    }
    return p;
}

bool map_base::check_invariants_for_testing() const
{
    if (root_ == nullptr) {
        return count_ == 0;
    }
    if (root_->parent != nullptr || root_->colour != black) {
        return false;
    }
    // Walks the tree in order with an explicit stack of (node, black nodes above it).
    std::size_t seen = 0;
    int leaf_black_height = -1;
    const node* previous = nullptr;
    vector<std::pair<node*, int>> stack;
    node* n = root_;
    int blacks_above = 0;
    for (;;) {
        while (n != nullptr) {
            if (n->colour != red && n->colour != black) {
                return false;
            }
            if (n->colour == red && (is_red(n->left) || is_red(n->right))) {
                return false;
            }
            if ((n->left != nullptr && n->left->parent != n) ||
                (n->right != nullptr && n->right->parent != n)) {
                return false;
            }
            int blacks = blacks_above + (n->colour == black ? 1 : 0);
            if (n->left == nullptr || n->right == nullptr) {
                if (leaf_black_height < 0) {
                    leaf_black_height = blacks;
                } else if (leaf_black_height != blacks) {
                    return false;
                }
            }
            stack.emplace_back(n, blacks);
            n = n->left;
            blacks_above = blacks;
        }
        if (stack.empty()) {
            break;
        }
        auto [top, blacks] = stack.back();
        stack.pop_back();
        if (previous != nullptr && !keys_->less(previous->entry, top->entry)) {
            return false;
        }
        previous = top;
        ++seen;
        n = top->right;
        blacks_above = blacks;
    }
    return seen == count_;
}

}  // namespace vantor_stl
