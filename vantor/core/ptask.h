#pragma once
// Posted units of work. A task is a counted object bound to one executor: it is posted when its
// last reference goes, which happens once every future it waits for has settled and its creator
// has let go of it. Everything the task does happens on its executor's threads.
#include <atomic>
#include <cstdint>
#include <type_traits>

#include "vantor/core/exception.h"
#include "vantor/core/fut.h"
#include "vantor/core/job.h"

namespace vantor {

// The base of every task. Made with new by its creator, who holds the first reference; never
// deleted by anyone but the job that runs it. The sources a task waits for each hold one
// reference through their continuation record.
class ptask_void {
public:
    ptask_void(const ptask_void&) = delete;
    ptask_void& operator=(const ptask_void&) = delete;

    void add_ref() noexcept { count_.fetch_add(1, std::memory_order_relaxed); }
    // Drops one reference. The last one posts the task to its executor as the job {run the body,
    // swallowing every exception; destroy the task; the task}; the task runs at most once.
    void release() noexcept;

    const executor_handle& executor() const noexcept { return executor_; }
    std::int32_t ref_count_for_testing() const noexcept { return count_.load(); }

protected:
    // Count 1: the creator's reference.
    explicit ptask_void(const executor_handle& executor) noexcept : executor_(executor) {}
    virtual ~ptask_void();

    // Called when one of the futures the task waits for fails, on the thread that failed it.
    virtual void on_source_failed() {}
    // The task body, on the executor's thread.
    virtual void run() = 0;

    // Registers the task as a continuation of a pending source, which then holds a reference to
    // the task until it settles. *already_failed becomes true when the source has failed; a done
    // source needs nothing.
    void attach_to(fut_state_base& source, bool& already_failed);
    // Takes the task's record back from a source that has not settled yet and drops the
    // reference it held, so that the task no longer waits for it.
    void detach_from(fut_state_base& source) noexcept;

private:
    static void __cdecl add_ref_fn(void* task);
    static void __cdecl release_fn(void* task);
    static void __cdecl source_failed_fn(void* task, const char* message);
    static void __cdecl run_job(void* task);
    static void __cdecl destroy_job(void* task);

    fut_continuation record() noexcept;

    executor_handle executor_;
    std::atomic<std::int32_t> count_{1};
};

// A task with its own future of T, created pending with the task.
template <typename T>
class ptask : public ptask_void {
public:
    using result_type = T;

    // Gives the caller the task's future and drops the caller's task reference (which posts the
    // task when it was the last one). The task must not be touched afterwards.
    fut<T> take_fut()
    {
        fut<T> f = result_;
        release();
        return f;
    }

protected:
    explicit ptask(const executor_handle& executor) : ptask_void(executor) {}
    // A task destroyed without having run (its executor dropped the job or refused the post)
    // fails its future, so that no holder waits for it for ever.
    ~ptask() override
    {
        try {
            if (result_.is_pending()) {
                result_.set_exception(exception());
            }
        } catch (...) {
            // Out of memory while failing a future nobody will run: nothing more can be done.
        }
    }

    // When `source` has failed, fails the task's own future with a copy of the source's
    // exception and returns true.
    bool forward_error(const fut_state_base& source)
    {
        if (auto e = source.error()) {
            result_.set_exception(*e);
            return true;
        }
        return false;
    }

    // Completes the own future with what `call` returns (1 for a call without a value); a
    // vantor::exception fails it with a copy, anything else with an empty exception.
    template <typename Call>
    void complete_with(Call&& call)
    {
        try {
            if constexpr (std::is_void_v<decltype(call())>) {
                call();
                result_.set_value(1);
            } else {
                result_.set_value(call());
            }
        } catch (const exception& e) {
            result_.set_exception(e);
        } catch (...) {
            result_.set_exception(exception());
        }
    }

    fut<T> result_;
};

}  // namespace vantor
