#pragma once
// The shared state behind a future: pending until it settles once, as done with a value or as
// failed with an exception; the continuations that run when it settles; and the waits on it.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>

#include "vantor/core/exception.h"
#include "vantor/core/job.h"
#include "vantor/core/locks.h"

namespace vantor_stl {
template <typename K>
class set;
}  // namespace vantor_stl

namespace vantor {

enum class fut_kind : std::int32_t { pending = 1, failed = 2, done = 3 };

using fut_done_fn = void(__cdecl*)(void* arg);
using fut_fail_fn = void(__cdecl*)(void* arg, const char* message);
using fut_on_add_fn = void(__cdecl*)(void* arg);
using fut_then_fn = void(__cdecl*)(void* context, void* a, void* b, void* c);

// What runs when a pending future settles: on_done(arg), or on_fail(arg, text of the exception).
// The host hands in records of the same shape, so it holds only C function pointers. A future
// keeps a record (compared by all three fields) at most once.
struct fut_continuation {
    void* arg = nullptr;
    fut_done_fn on_done = nullptr;
    fut_fail_fn on_fail = nullptr;
};
bool operator<(const fut_continuation& a, const fut_continuation& b) noexcept;
bool operator==(const fut_continuation& a, const fut_continuation& b) noexcept;

// "fut not set": reading a pending future throws a copy of this one exception.
const exception& fut_not_set_error();
// "fut already set": settling a settled future when the caller asked for the check.
exception fut_already_set_error();
// "/timeout": a timed wait whose time ran out before the future settled.
exception fut_timeout_error();

// The untyped part of every future's state. Holders count their references; continuations run
// on the thread that settles the state, after its lock is left, in the order of the set. Any
// thread may use a state.
class fut_state_base {
public:
    fut_state_base(const fut_state_base&) = delete;
    fut_state_base& operator=(const fut_state_base&) = delete;

    void add_ref() noexcept { count_.fetch_add(1, std::memory_order_relaxed); }
    // The last release destroys the state, with any continuations still in its set (they are
    // not called).
    void release() noexcept;

    fut_kind kind() const noexcept;

    // Adds `record` when the state is pending and the record is not in the set yet, calling
    // on_add(on_add_arg) (when given) just before; true when it was added. *already_failed (when
    // given) is set to true when the state has failed. Throws only when memory runs out; nothing
    // is added then.
    bool add_continuation(const fut_continuation& record, fut_on_add_fn on_add, void* on_add_arg,
                          bool* already_failed);
    // True when the record was in the set of the pending state and is now removed.
    bool remove_continuation(const fut_continuation& record) noexcept;

    // Fails a pending state with a copy of `error` and runs the continuations' on_fail; false
    // when the state had already settled.
    bool set_exception(const exception& error);

    // A copy of the stored exception of a failed state; empty otherwise.
    std::optional<exception> error() const;
    // The text of the stored exception of a failed state, valid while the state lives; null
    // otherwise.
    const char* error_text() const noexcept;

    // Calls function(context, a, b, c) once when the state settles, on the settling thread, or
    // at once on this thread when it has settled already. The function reads the outcome from
    // the future; whatever it throws is logged and dropped.
    void then(fut_then_fn function, void* context, void* a, void* b, void* c);

    // Posts `continuation` to `executor` once when the state settles (done or failed), or at
    // once when it has settled already; the job reads the outcome from the future.
    void then_post(const executor_handle& executor, const job& continuation);

    // Blocks until the state has settled; a negative time-out waits without limit. False when
    // the time ran out first: only this waiter gives up, the state stays pending for its other
    // holders.
    bool wait_settled(std::int64_t timeout_ms);

    std::int32_t ref_count_for_testing() const noexcept { return count_.load(); }
    std::size_t continuation_count_for_testing() const;

protected:
    // Pending, with the creator's reference.
    fut_state_base() noexcept;
    virtual ~fut_state_base();

    // Settles a pending state as done: store(self, value) puts the value in place under the
    // lock, then the continuations' on_done run on this thread. On a settled state: false, or
    // "fut already set" when throw_if_set. A throwing store leaves the state pending.
    using store_fn = void (*)(fut_state_base* self, void* value);
    bool complete(store_fn store, void* value, bool throw_if_set);

    // Returns when the state is done; throws a copy of the stored exception when it failed and
    // a copy of "fut not set" while it is pending.
    void check_done() const;

private:
    using continuation_set = vantor_stl::set<fut_continuation>;

    std::atomic<std::int32_t> count_{1};
    mutable critical_section lock_;
    continuation_set* continuations_ = nullptr;  // pending only; null until the first record
    exception* error_ = nullptr;                 // failed only
    fut_kind kind_ = fut_kind::pending;
};

// The state of a future of T. Made only by create; destroyed by its last release.
template <typename T>
class fut_state final : public fut_state_base {
public:
    // A new pending state holding the caller's reference.
    static fut_state* create() { return new fut_state(); }

    bool set_value(T value, bool throw_if_set) { return complete(&store, &value, throw_if_set); }

    // A copy of the value of a done state; see check_done for the others. Once done, the value
    // never changes, so it is read without the lock.
    T get() const { return value(); }
    // The value of a done state itself, valid while the state lives; otherwise as get.
    const T& value() const
    {
        check_done();
        return *value_;
    }
    T wait()
    {
        wait_settled(-1);
        return get();
    }
    // Throws "/timeout" when the time runs out before the state settles.
    T wait_for(std::int64_t timeout_ms)
    {
        if (!wait_settled(timeout_ms)) {
            throw fut_timeout_error();
        }
        return get();
    }

private:
    fut_state() noexcept = default;
    ~fut_state() override = default;

    static void store(fut_state_base* self, void* value)
    {
        static_cast<fut_state*>(self)->value_.emplace(std::move(*static_cast<T*>(value)));
    }

    std::optional<T> value_;
};

}  // namespace vantor
