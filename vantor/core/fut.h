#pragma once
// The future of a posted call or of a host call: a counted handle on a shared state that settles
// once. Results of calls without a value are the int 1.
#include <cstdint>
#include <utility>

#include "vantor/core/exception.h"
#include "vantor/core/fut_state.h"

namespace vantor {

// One reference to a fut_state<T>: copies share the state, destruction drops the reference. A
// default-built future holds a new pending state; a moved-from one holds nothing and may only be
// assigned or destroyed. One holder is used by one thread at a time; the state behind it may be
// used by any number of threads through their own holders.
template <typename T>
class fut {
public:
    using value_type = T;

    fut() : state_(fut_state<T>::create()) {}
    fut(const fut& other) noexcept : state_(other.state_)
    {
        if (state_ != nullptr) {
            state_->add_ref();
        }
    }
    fut(fut&& other) noexcept : state_(std::exchange(other.state_, nullptr)) {}
    ~fut() { reset(); }

    fut& operator=(const fut& other) noexcept
    {
        fut_state<T>* s = other.state_;
        if (s != nullptr) {
            s->add_ref();
        }
        if (fut_state<T>* old = std::exchange(state_, s); old != nullptr) {
            old->release();
        }
        return *this;
    }
    fut& operator=(fut&& other) noexcept
    {
        if (this != &other) {
            if (fut_state<T>* old = std::exchange(state_, std::exchange(other.state_, nullptr));
                old != nullptr) {
                old->release();
            }
        }
        return *this;
    }

    // Takes over one reference the caller holds on `state`.
    static fut adopt(fut_state<T>* state) noexcept
    {
        fut f(nullptr);
        f.state_ = state;
        return f;
    }
    // A future that is done with `value` from the start.
    static fut make_ready(T value)
    {
        fut f;
        f.set_value(std::move(value));
        return f;
    }

    // Completes a pending future and runs its continuations on this thread. On a settled future:
    // false, or "fut already set" when throw_if_set.
    bool set_value(T value, bool throw_if_set = false) const
    {
        return checked()->set_value(std::move(value), throw_if_set);
    }
    // Fails a pending future; false when it has settled already.
    bool set_exception(const exception& error) const { return checked()->set_exception(error); }
    // As set_exception, but "fut already set" instead of false.
    void set_exception_or_throw(const exception& error) const
    {
        if (!set_exception(error)) {
            throw fut_already_set_error();
        }
    }

    // Done: the value. Failed: throws a copy of the stored exception. Pending: throws a copy of
    // "fut not set".
    T get() const { return checked()->get(); }
    // Blocks until the future settles, then as get. Only for thread tops, the service control
    // thread and tests: no executor thread blocks.
    T wait() const { return checked()->wait(); }
    // As wait, giving up after timeout_ms (negative: no limit) with "/timeout". Giving up affects
    // only this waiter: the future stays pending and may still be settled.
    T wait_for(std::int64_t timeout_ms) const { return checked()->wait_for(timeout_ms); }

    // Calls function(context, a, b, c) once when the future settles (done or failed), on the
    // settling thread, or at once on this thread when it has settled already.
    void then(fut_then_fn function, void* context, void* a = nullptr, void* b = nullptr,
              void* c = nullptr) const
    {
        checked()->then(function, context, a, b, c);
    }

    // Posts `continuation` to `executor` once the future settles (done or failed), or at once
    // when it has settled already: the way to run a bound method on a given serial queue with the
    // future's outcome.
    void then(const executor_handle& executor, const job& continuation) const
    {
        checked()->then_post(executor, continuation);
    }

    // The continuation primitives behind the host operations; see fut_state_base.
    bool add_continuation(const fut_continuation& record, fut_on_add_fn on_add, void* on_add_arg,
                          bool* already_failed) const
    {
        return checked()->add_continuation(record, on_add, on_add_arg, already_failed);
    }
    bool remove_continuation(const fut_continuation& record) const
    {
        return checked()->remove_continuation(record);
    }

    fut_kind kind() const { return checked()->kind(); }
    bool is_pending() const { return kind() == fut_kind::pending; }
    bool is_done() const { return kind() == fut_kind::done; }
    bool is_failed() const { return kind() == fut_kind::failed; }

    bool valid() const noexcept { return state_ != nullptr; }
    fut_state<T>* state() const noexcept { return state_; }

    // Drops the reference; the holder is empty afterwards.
    void reset() noexcept
    {
        if (fut_state<T>* old = std::exchange(state_, nullptr); old != nullptr) {
            old->release();
        }
    }

private:
    explicit fut(std::nullptr_t) noexcept {}

    fut_state<T>* checked() const
    {
        if (state_ == nullptr) {
            throw internal_error(__LINE__);
        }
        return state_;
    }

    fut_state<T>* state_ = nullptr;
};

}  // namespace vantor
