#include "vantor/core/vector.h"

#include <cstdint>
#include <new>

#include "vantor/core/exception.h"
#include "vantor/core/win_api.h"

namespace vantor_stl {

void* heap_allocate(std::size_t bytes)
{
    void* block = HeapAlloc(GetProcessHeap(), 0, bytes);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    return block;
}

void heap_free(void* block) noexcept
{
    if (block != nullptr) {
        HeapFree(GetProcessHeap(), 0, block);
    }
}

namespace {

constexpr std::uint64_t max_elements = 0x80000000u;

// The capacity that the policy gives for n > 0 elements when the current one is `capacity`.
std::size_t policy_capacity(std::size_t n, std::size_t capacity)
{
    if (n <= capacity && static_cast<std::uint64_t>(capacity) <= 4 * static_cast<std::uint64_t>(n)) {
        return capacity;
    }
    if (n > max_elements) {
        throw std::bad_alloc();
    }
    std::size_t p = 1;
    while (p < n) {
        p <<= 1;
    }
    return p;
}

void* allocate_elements(std::size_t count, std::size_t element_size)
{
    if (element_size != 0 && count > SIZE_MAX / element_size) {
        throw std::bad_alloc();
    }
    return heap_allocate(count * element_size);
}

}  // namespace

vector_base::vector_base(const element_ops* ops, std::size_t n) : vector_base(ops)
{
    if (n == 0) {
        return;
    }
    if (n > max_elements) {
        throw std::bad_alloc();
    }
    data_ = allocate_elements(n, ops_->size);
    capacity_ = static_cast<std::uint32_t>(n);
    // size_ counts only finished elements, so a failing constructor leaves a destroyable vector.
    while (size_ < n) {
        ops_->construct(element(size_));
        ++size_;
    }
}

vector_base::vector_base(const element_ops* ops, void* first, const void* last,
                         const iterator_ops* walk, construct_fn build)
    : vector_base(ops)
{
    for (; !walk->equal(first, last); walk->advance(first)) {
        emplace_back(build, first);
    }
}

vector_base::vector_base(const vector_base& other) : vector_base(other.ops_)
{
    if (other.capacity_ == 0) {
        return;
    }
    data_ = allocate_elements(other.capacity_, ops_->size);
    capacity_ = other.capacity_;
    while (size_ < other.size_) {
        ops_->copy(element(size_), other.element(size_));
        ++size_;
    }
}

vector_base::vector_base(vector_base&& other) noexcept
    : ops_(other.ops_), data_(other.data_), size_(other.size_), capacity_(other.capacity_)
{
    other.data_ = nullptr;
    other.size_ = 0;
    other.capacity_ = 0;
}

vector_base& vector_base::operator=(const vector_base& other)
{
    assign(other);
    return *this;
}

vector_base& vector_base::operator=(vector_base&& other) noexcept
{
    if (this != &other) {
        clear();
        swap(other);
    }
    return *this;
}

vector_base::~vector_base() { destroy(); }

void vector_base::assign(const vector_base& other)
{
    if (this == &other) {
        return;
    }
    while (size_ > 0) {
        --size_;
        ops_->destroy(element(size_));
    }
    ops_ = other.ops_;
    reserve(other.size_);
    while (size_ < other.size_) {
        ops_->copy(element(size_), other.element(size_));
        ++size_;
    }
}

void vector_base::destroy() noexcept
{
    for (std::uint32_t i = 0; i < size_; ++i) {
        ops_->destroy(element(i));
    }
    heap_free(data_);
}

void vector_base::clear() noexcept
{
    destroy();
    data_ = nullptr;
    size_ = 0;
    capacity_ = 0;
}

void vector_base::relocate(std::size_t new_capacity, std::size_t slot, construct_fn build,
                           const void* argument)
{
    const std::size_t esize = ops_->size;
    char* fresh = static_cast<char*>(allocate_elements(new_capacity, esize));
    std::size_t built = 0;  // elements copied so far (not counting the slot)
    bool slot_built = false;
    try {
        if (slot != no_slot) {
            // Built first, while the old storage is intact, so that the argument may be one of
            // this vector's own elements.
            build(fresh + slot * esize, argument);
            slot_built = true;
        }
        for (; built < size_; ++built) {
            std::size_t target = (slot != no_slot && built >= slot) ? built + 1 : built;
            ops_->copy(fresh + target * esize, element(built));
        }
    } catch (...) {
        for (std::size_t i = 0; i < built; ++i) {
            std::size_t target = (slot != no_slot && i >= slot) ? i + 1 : i;
            ops_->destroy(fresh + target * esize);
        }
        if (slot_built) {
            ops_->destroy(fresh + slot * esize);
        }
        heap_free(fresh);
        throw;
    }
    destroy();
    data_ = fresh;
    capacity_ = static_cast<std::uint32_t>(new_capacity);
    if (slot != no_slot) {
        ++size_;
    }
}

void vector_base::reserve(std::size_t n)
{
    // Asking for less than the size would leave elements outside the storage; the request
    // stands for the current size then.
    if (n < size_) {
        n = size_;
    }
    if (n == 0) {
        heap_free(data_);
        data_ = nullptr;
        capacity_ = 0;
        return;
    }
    std::size_t wanted = policy_capacity(n, capacity_);
    if (wanted != capacity_) {
        relocate(wanted, no_slot, nullptr, nullptr);
    }
}

void vector_base::resize(std::size_t n)
{
    while (size_ > n) {
        --size_;
        ops_->destroy(element(size_));
    }
    reserve(n);
    while (size_ < n) {
        ops_->construct(element(size_));
        ++size_;
    }
}

void* vector_base::emplace_back(construct_fn build, const void* argument)
{
    std::size_t wanted = policy_capacity(static_cast<std::size_t>(size_) + 1, capacity_);
    if (wanted != capacity_) {
        relocate(wanted, size_, build, argument);
    } else {
        build(element(size_), argument);
        ++size_;
    }
    return element(size_ - 1);
}

void* vector_base::insert(std::size_t index, construct_fn build, const void* argument)
{
    if (index > size_) {
        throw exception();
    }
    std::size_t wanted = policy_capacity(static_cast<std::size_t>(size_) + 1, capacity_);
    if (wanted != capacity_) {
        relocate(wanted, index, build, argument);
        return element(index);
    }
    // Room in place: move the tail up one slot, from the end down, leaving `index` raw.
    for (std::size_t i = size_; i > index; --i) {
        ops_->copy(element(i), element(i - 1));
        ops_->destroy(element(i - 1));
    }
    try {
        build(element(index), argument);
    } catch (...) {
        // Close the gap again so the vector holds exactly its old elements.
        for (std::size_t i = index; i < size_; ++i) {
            ops_->copy(element(i), element(i + 1));
            ops_->destroy(element(i + 1));
        }
        throw;
    }
    ++size_;
    return element(index);
}

void vector_base::erase(std::size_t first, std::size_t last)
{
    if (first > last || last > size_) {
        throw exception();
    }
    if (first == last) {
        return;
    }
    if (first == 0 && last == size_) {
        clear();
        return;
    }
    for (std::size_t i = first; i < last; ++i) {
        ops_->destroy(element(i));
    }
    std::size_t gap = last - first;
    for (std::size_t i = last; i < size_; ++i) {
        ops_->copy(element(i - gap), element(i));
        ops_->destroy(element(i));
    }
    size_ -= static_cast<std::uint32_t>(gap);
}

void vector_base::pop_back()
{
    if (size_ == 0) {
        return;
    }
    --size_;
    ops_->destroy(element(size_));
    reserve(size_);
}

bool vector_base::equals(const vector_base& other, bool (*same)(const void* a, const void* b)) const
{
    if (size_ != other.size_) {
        return false;
    }
    for (std::uint32_t i = 0; i < size_; ++i) {
        if (!same(element(i), other.element(i))) {
            return false;
        }
    }
    return true;
}

void* vector_base::at(std::size_t index) const
{
    if (index >= size_) {
        throw exception();
    }
    return element(index);
}

void vector_base::swap(vector_base& other) noexcept
{
    std::swap(ops_, other.ops_);
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(capacity_, other.capacity_);
}

}  // namespace vantor_stl
