#pragma once
// Reference-counted objects: the counted base, its variant with weak holders, the owning and weak
// holders, and the forms used for objects that cross the plug-in boundary.
#include <atomic>
#include <cstdint>
#include <type_traits>
#include <utility>

#include "vantor/core/exception.h"
#include "vantor/core/win_api.h"

namespace vantor {

// Empty root of the counted classes.
class reference_counted {};

// The counted base of every long-lived object. A new object starts with count 0; the first holder
// adds the first reference and the release that takes the count to 0 runs final_release on that
// thread. A class that reaches this base through more than one of its bases inherits it
// virtually, so that the object has one count; holders find the count the same way in both
// forms. Counts have no overflow or underflow check.
class refc_obj_class : public reference_counted {
public:
    refc_obj_class(const refc_obj_class&) = delete;
    refc_obj_class& operator=(const refc_obj_class&) = delete;

    void add_ref() noexcept { count_.fetch_add(1, std::memory_order_relaxed); }
    void release() noexcept
    {
        if (count_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            final_release();
        }
    }

    std::int32_t ref_count_for_testing() const noexcept { return count_.load(); }

protected:
    refc_obj_class() noexcept = default;
    // For counted records that start with their creator's reference already taken.
    explicit refc_obj_class(std::int32_t initial_count) noexcept : count_(initial_count) {}
    virtual ~refc_obj_class() = default;

    // Asked when the count has dropped to 0: true means the object has taken care of itself and
    // is not deleted now (it stays usable, and a later reference counts from 0 again).
    virtual bool on_last_release() { return false; }

private:
    friend class refc_obj_class_strong;

    // Runs on_last_release and deletes the object unless it answered true.
    void final_release() noexcept;

    std::atomic<std::int32_t> count_{0};
};

// A counted object that weak holders (refc_weak) can refer to. Its weak block is shared by the
// object and its weak holders and outlives the object while any weak holder remains.
class refc_obj_class_strong : public refc_obj_class {
public:
    class weak_data;

    // The object's weak block; valid while the caller holds a reference to the object.
    weak_data* weak_block() const noexcept { return weak_; }

protected:
    refc_obj_class_strong();
    ~refc_obj_class_strong() override;

    // Asked after the object has been cut off from its weak holders: true keeps the object alive
    // (its weak holders still cannot reach it).
    virtual bool on_last_strong_release() { return false; }

private:
    bool on_last_release() final;

    weak_data* weak_;
};

// The block behind the weak holders: {lock; owner, null from the owner's last release on}. Its
// count starts at 1 for the owner's reference; each weak holder holds one more.
class refc_obj_class_strong::weak_data : public refc_obj_class {
public:
    explicit weak_data(refc_obj_class_strong* owner) noexcept;

    // The owner with a new reference, or null when the owner is gone or its count is 0 (an owner
    // whose last reference is already dropped is never revived). Any thread.
    refc_obj_class_strong* lock_owner() noexcept;

protected:
    ~weak_data() override;

private:
    friend class refc_obj_class_strong;

    CRITICAL_SECTION lock_;
    refc_obj_class_strong* owner_;
};

// The owning holder of one T*, possibly null; it owns exactly one reference while not null.
// Base is the counted class through which T is counted (T* converts to Base* whether Base is a
// direct or a virtual base). A holder is used by one thread at a time.
template <typename T, typename Base = refc_obj_class>
class refc_obj {
public:
    refc_obj() noexcept = default;
    explicit refc_obj(T* p) noexcept : p_(p)
    {
        if (p_ != nullptr) {
            counted(p_)->add_ref();
        }
    }
    refc_obj(const refc_obj& other) noexcept : refc_obj(other.p_) {}
    // From a holder of a derived type.
    template <typename U>
    requires std::is_convertible_v<U*, T*> refc_obj(const refc_obj<U, Base>& other)
    noexcept : refc_obj(other.get()) {}
    refc_obj(refc_obj&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ~refc_obj() { reset(); }

    // Adds the new reference before releasing the old one, so self-assignment is safe.
    refc_obj& operator=(const refc_obj& other) noexcept
    {
        T* p = other.p_;
        if (p != nullptr) {
            counted(p)->add_ref();
        }
        T* old = std::exchange(p_, p);
        if (old != nullptr) {
            release_unchecked(old);
        }
        return *this;
    }
    refc_obj& operator=(refc_obj&& other) noexcept
    {
        move_assign_core(other);
        return *this;
    }

    // Sets the holder to null first, then releases what it held.
    void reset() noexcept
    {
        T* old = std::exchange(p_, nullptr);
        if (old != nullptr) {
            release_unchecked(old);
        }
    }

    // Releases a pointer known not to be null.
    static void release_unchecked(T* p) noexcept { counted(p)->release(); }

    T* get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    T& operator*() const noexcept { return *p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }

    // A new owning reference to the held object; internal error 535 when the holder is empty.
    refc_obj get_checked() const
    {
        if (p_ == nullptr) {
            throw internal_error(535);
        }
        return refc_obj(p_);
    }

private:
    static Base* counted(T* p) noexcept { return p; }

    // A move from the holder itself changes nothing. The holder takes the source's object before
    // the old one is released, so code run by that release sees a consistent holder.
    void move_assign_core(refc_obj& other) noexcept
    {
        if (this == &other) {
            return;
        }
        T* old = std::exchange(p_, std::exchange(other.p_, nullptr));
        if (old != nullptr) {
            release_unchecked(old);
        }
    }

    T* p_ = nullptr;
};

// A weak holder of a T derived from refc_obj_class_strong: it keeps the object's weak block, not
// the object. lock gives an owning holder while the object is alive, an empty one afterwards.
template <typename T>
class refc_weak {
public:
    refc_weak() noexcept = default;
    // The caller holds a reference to `object` (or passes null).
    explicit refc_weak(T* object) noexcept
        : block_(object != nullptr ? strong(object)->weak_block() : nullptr), target_(object)
    {
    }
    explicit refc_weak(const refc_obj<T>& object) noexcept : refc_weak(object.get()) {}

    refc_obj<T> lock() const noexcept
    {
        if (!block_ || block_->lock_owner() == nullptr) {
            return {};
        }
        // lock_owner took a reference for the caller; the holder takes its own and the extra one
        // is given back (the object cannot reach 0 in between).
        refc_obj<T> result(target_);
        strong(target_)->release();
        return result;
    }

    void reset() noexcept
    {
        block_.reset();
        target_ = nullptr;
    }

private:
    static refc_obj_class_strong* strong(T* p) noexcept { return p; }

    refc_obj<refc_obj_class_strong::weak_data> block_;
    T* target_ = nullptr;
};

}  // namespace vantor

namespace vantor_abi {

// The interface of every object that crosses the boundary between the host and a plug-in:
// add_ref and release are the first two slots. There is no virtual destructor (this compiler
// would give it two slots, the host's compiler one): such objects are deleted only by their own
// release. Classes of this system forward both to their vantor::refc_obj_class count.
class refc_obj_class {
public:
    virtual void add_ref() = 0;
    virtual void release() = 0;

protected:
    refc_obj_class() = default;
    refc_obj_class(const refc_obj_class&) = default;
    refc_obj_class& operator=(const refc_obj_class&) = default;
    ~refc_obj_class() = default;
};

// A holder of one boundary object, possibly null, owning one reference while not null. The
// readers throw the integer 1 (not a vantor::exception) when the holder is empty.
template <typename T>
class refc_ptr {
public:
    refc_ptr() noexcept = default;
    explicit refc_ptr(T* p) : p_(p)
    {
        if (p_ != nullptr) {
            p_->add_ref();
        }
    }
    refc_ptr(const refc_ptr& other) : refc_ptr(other.p_) {}
    refc_ptr(refc_ptr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ~refc_ptr() { reset_nothrow(); }

    refc_ptr& operator=(const refc_ptr& other)
    {
        T* p = other.p_;
        if (p != nullptr) {
            p->add_ref();
        }
        T* old = std::exchange(p_, p);
        if (old != nullptr) {
            old->release();
        }
        return *this;
    }
    refc_ptr& operator=(refc_ptr&& other) noexcept
    {
        if (this != &other) {
            T* old = std::exchange(p_, std::exchange(other.p_, nullptr));
            if (old != nullptr) {
                old->release();
            }
        }
        return *this;
    }

    // Sets the holder to null, then releases the old object; nothing escapes.
    void reset_nothrow() noexcept
    {
        T* old = std::exchange(p_, nullptr);
        if (old != nullptr) {
            try {
                old->release();
            } catch (...) {
                // A boundary object's release does not throw; a broken one must not end the
                // program from a destructor.
            }
        }
    }

    // Clears the holder and releases the object it held.
    void take_release()
    {
        T* old = std::exchange(p_, nullptr);
        if (old != nullptr) {
            old->release();
        }
    }

    // The object with a new reference for the caller.
    T* get_checked() const
    {
        if (p_ == nullptr) {
            throw 1;
        }
        p_->add_ref();
        return p_;
    }
    // The object without a new reference.
    T* get_or_throw() const
    {
        if (p_ == nullptr) {
            throw 1;
        }
        return p_;
    }

    T* get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }

private:
    T* p_ = nullptr;
};

}  // namespace vantor_abi
