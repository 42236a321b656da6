#include "vantor/core/refc_obj.h"

namespace vantor {

void refc_obj_class::final_release() noexcept
{
    if (on_last_release()) {
        return;
    }
    delete this;
}

refc_obj_class_strong::refc_obj_class_strong() : weak_(new weak_data(this)) {}

refc_obj_class_strong::~refc_obj_class_strong()
{
    weak_->release();
}

bool refc_obj_class_strong::on_last_release()
{
    EnterCriticalSection(&weak_->lock_);
    if (weak_->owner_ != nullptr) {
        weak_->owner_ = nullptr;
        LeaveCriticalSection(&weak_->lock_);
        return on_last_strong_release();
    }
    // Already cut off by an earlier last release whose on_last_strong_release kept the object:
    // it looks after itself.
    LeaveCriticalSection(&weak_->lock_);
    return true;
}

refc_obj_class_strong::weak_data::weak_data(refc_obj_class_strong* owner) noexcept
    : refc_obj_class(1), owner_(owner)
{
    InitializeCriticalSection(&lock_);
}

refc_obj_class_strong::weak_data::~weak_data()
{
    DeleteCriticalSection(&lock_);
}

refc_obj_class_strong* refc_obj_class_strong::weak_data::lock_owner() noexcept
{
    constexpr int swaps_per_hold = 3;
    for (;;) {
        EnterCriticalSection(&lock_);
        refc_obj_class_strong* owner = owner_;
        if (owner == nullptr) {
            LeaveCriticalSection(&lock_);
            return nullptr;
        }
        // owner_ is cleared under this lock before the owner is deleted, so the owner's memory
        // stays valid while the lock is held. The swap never raises a count of 0, so an owner
        // whose last reference is gone cannot be revived.
        std::int32_t c = owner->count_.load(std::memory_order_acquire);
        for (int i = 0; i < swaps_per_hold; ++i) {
            if (c == 0) {
                LeaveCriticalSection(&lock_);
                return nullptr;
            }
            if (owner->count_.compare_exchange_strong(c, c + 1, std::memory_order_acq_rel,
                                                      std::memory_order_acquire)) {
                LeaveCriticalSection(&lock_);
                return owner;
            }
        }
        // Other threads keep changing the count: give them the lock for a moment.
        LeaveCriticalSection(&lock_);
    }
}

}  // namespace vantor
