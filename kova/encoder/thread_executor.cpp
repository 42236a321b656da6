#include "kova/encoder/thread_executor.h"

#include <cstdint>
#include <memory>

#include "kova/encoder/thread_executor_jobs.h"
#include "vantor/core/exception.h"
#include "vantor/core/locks.h"
#include "vantor/core/log.h"
#include "vantor/core/semaphore.h"
#include "vantor/core/thread.h"
#include "vantor/core/vector.h"

namespace kova {
namespace {

constexpr vantor::log_context executor_log{"kova_executor"};

// WaitForMultipleObjects takes at most 64 handles: the wake semaphore and 63 natives.
constexpr std::uint32_t max_wait_handles = MAXIMUM_WAIT_OBJECTS;

using native_ref = vantor::refc_obj<thread_executor::native>;

// The part of an executor that posters reach: the job queue, the running flag and the wake
// semaphore. Counted, and held by the executor object and by its thread, so a stop that races
// with the thread's end never touches freed memory. The executor handle's context points here.
class executor_state final : public vantor::refc_obj_class {
public:
    static vantor::refc_obj<executor_state> create() { return vantor::refc_obj<executor_state>(new executor_state()); }

    // Queues a job and wakes the thread when the queue was empty. After stop: logs "not running
    // any more" and raises internal error 176 (the job is not taken).
    void post(const vantor::job& j)
    {
        vantor::cs_lock guard(lock_.get());
        if (!running_) {
            guard.unlock();
            executor_log.write("not running any more");
            throw vantor::internal_error(176);
        }
        bool was_empty = jobs_.empty();
        jobs_.push_back(j);
        if (was_empty) {
            wake();
        }
    }

    // Refuses further posts; the thread runs what is queued and ends. A second stop does nothing.
    void stop()
    {
        vantor::cs_lock guard(lock_.get());
        if (!running_) {
            return;
        }
        running_ = false;
        if (jobs_.empty()) {
            wake();
        }
    }

    // On the executor thread: moves every queued job into `batch` (empty on entry). False when
    // the executor is stopped and nothing is left, so the thread ends.
    bool take_jobs(vantor_stl::vector<vantor::job>& batch)
    {
        {
            vantor::cs_lock guard(lock_.get());
            batch.swap(jobs_);
            if (running_) {
                return true;
            }
            if (!batch.empty()) {
                // Come back after this batch to drain what was posted meanwhile, then finish.
                wake();
                return true;
            }
        }
        executor_log.write("exiting");
        return false;
    }

    HANDLE wake_handle() const noexcept { return wake_.native_handle(); }

private:
    executor_state() = default;
    ~executor_state() override = default;

    // The semaphore's maximum is far above any number of pending wakes, so a release fails only
    // when its handle is broken; the queued job is then picked up by the thread's polling.
    void wake() noexcept
    {
        try {
            wake_.release();
        } catch (const vantor::exception& e) {
            executor_log.log(VANTOR_FMT("wake failed: %1%"), e.what());
        }
    }

    vantor::critical_section lock_;
    bool running_ = true;
    vantor_stl::vector<vantor::job> jobs_;
    vantor::semaphore wake_{0x7fffffff, 1};
};

// The executor thread: runs the queued jobs and calls back the natives whose handles are
// signalled. The natives, the wait list and the rotation are touched only on this thread.
// Auto-delete: it frees itself when its body ends after the stop.
class thread_executor_ final : public vantor::thread {
public:
    explicit thread_executor_(vantor::refc_obj<executor_state> state) : thread(true), state_(std::move(state))
    {
        rebuild_handles();
    }

    void add_native(const native_ref& object)
    {
        if (!object || find(object.get()) != natives_.end()) {
            return;
        }
        HANDLE h = object->native_handle();
        if (h == nullptr) {
            executor_log.write("invalid native object");
            return;
        }
        for (const native_ref& n : natives_) {
            if (n->native_handle() == h) {
                executor_log.write("duplicate native object");
                return;
            }
        }
        natives_.push_back(object);
        rebuild_handles();
    }

    void remove_native(const native_ref& object)
    {
        auto it = find(object.get());
        if (it != natives_.end()) {
            natives_.erase(it);
            rebuild_handles();
        }
    }

protected:
    void run() override
    {
        vantor_stl::vector<vantor::job> batch;
        for (;;) {
            try {
                while (wait_and_dispatch()) {
                }
                if (!state_->take_jobs(batch)) {
                    return;
                }
                run_executor_jobs(batch);
            } catch (const vantor::exception& e) {
                // Only the bookkeeping can throw here (out of memory); jobs and callbacks catch
                // their own. The thread keeps serving after a pause instead of ending with jobs
                // and natives still in its care.
                executor_log.log(VANTOR_FMT("exc: %1%"), e.what());
                Sleep(executor_poll_ms);
            } catch (...) {
                executor_log.write("exc: na");
                Sleep(executor_poll_ms);
            }
        }
    }

private:
    native_ref* find(thread_executor::native* object)
    {
        for (native_ref& n : natives_) {
            if (n.get() == object) {
                return &n;
            }
        }
        return natives_.end();
    }

    // The wait list: the wake semaphore, then each native's handle in registration order, up to
    // 64 handles, written twice in a row so that a window of count_ entries can start anywhere.
    void rebuild_handles()
    {
        handles_[0] = state_->wake_handle();
        count_ = 1;
        rotation_ = 0;
        for (const native_ref& n : natives_) {
            if (count_ == max_wait_handles) {
                executor_log.write("ignoring too many objects");
                break;
            }
            handles_[count_] = n->native_handle();
            ++count_;
        }
        for (std::uint32_t i = 0; i < count_; ++i) {
            handles_[count_ + i] = handles_[i];
        }
    }

    // Waits for the wake semaphore or a native. Calls a signalled native back and returns true;
    // returns false when jobs may be waiting. The window starts one place further after every
    // wake, and WaitForMultipleObjects reports the lowest signalled position of the window, so
    // a handle that stays signalled cannot keep the other handles or the job queue from being
    // served.
    bool wait_and_dispatch()
    {
        if (polling_) {
            Sleep(executor_poll_ms);
            return false;
        }
        DWORD r = WaitForMultipleObjects(count_, &handles_[rotation_], FALSE, INFINITE);
        if (r == WAIT_FAILED) {
            return recover_from_failed_wait();
        }
        std::uint32_t offset = 0;
        if (r >= WAIT_OBJECT_0 && r < WAIT_OBJECT_0 + count_) {
            offset = r - WAIT_OBJECT_0;
        } else if (r >= WAIT_ABANDONED_0 && r < WAIT_ABANDONED_0 + count_) {
            offset = r - WAIT_ABANDONED_0;
        } else {
            return false;
        }
        std::uint32_t i = (rotation_ + offset) % count_;
        rotation_ = (rotation_ + 1) % count_;
        if (i == 0) {
            return false;
        }
        native_ref n = natives_[i - 1];
        try {
            n->signalled();
        } catch (...) {
            // A native's failure is its own; the executor goes on serving.
        }
        return true;
    }

    // A wait fails when a handle of the list can no longer be waited on, typically a native
    // that closed its handle before its removal was processed. Ending the thread (or the
    // process) would strand every queued job, so the natives whose handles are no longer valid
    // are dropped and the wait goes on. When no native's handle is at fault while natives are
    // registered, all of them are dropped, since only their handles can be; when the wake
    // semaphore itself cannot be waited on, the thread polls its queue from then on. Returns
    // whether to wait again.
    bool recover_from_failed_wait()
    {
        executor_log.log(VANTOR_FMT("wait failed: %1%"),
                         vantor::exception::make_win32_error("WaitForMultipleObjects").what());
        vantor_stl::vector<native_ref> kept;
        bool dropped = false;
        for (std::size_t k = 0; k < natives_.size(); ++k) {
            DWORD flags = 0;
            bool waited = k + 1 < count_;
            if (waited && GetHandleInformation(handles_[k + 1], &flags) == 0) {
                executor_log.write("dropping native object");
                dropped = true;
            } else {
                kept.push_back(natives_[k]);
            }
        }
        DWORD flags = 0;
        if (!dropped && GetHandleInformation(state_->wake_handle(), &flags) == 0) {
            executor_log.write("cannot wait for jobs any more, polling");
            polling_ = true;
            return false;
        }
        if (!dropped) {
            if (natives_.empty()) {
                executor_log.write("cannot wait for jobs any more, polling");
                polling_ = true;
                return false;
            }
            executor_log.write("dropping all native objects");
            kept.clear();
        }
        natives_.swap(kept);
        rebuild_handles();
        return true;
    }

    vantor::refc_obj<executor_state> state_;
    vantor_stl::vector<native_ref> natives_;
    HANDLE handles_[2 * max_wait_handles] = {};
    std::uint32_t count_ = 0;
    std::uint32_t rotation_ = 0;
    bool polling_ = false;
};

// Implements thread_executor over one thread_executor_.
class exe_impl final : public thread_executor {
public:
    static vantor::refc_obj<thread_executor> create()
    {
        vantor::refc_obj<executor_state> state = executor_state::create();
        auto thread = std::make_unique<thread_executor_>(state);
        thread->start(0);
        // The started thread owns itself; it ends after the stop of the destructor below.
        thread_executor_* running = thread.release();
        return vantor::refc_obj<thread_executor>(new exe_impl(std::move(state), running));
    }

    vantor::executor_handle executor() override { return {&thread_executor_post, state_.get()}; }

    void add_native(const native_ref& object) override { post_change(object, &run_add); }
    void remove_native(const native_ref& object) override { post_change(object, &run_remove); }

private:
    exe_impl(vantor::refc_obj<executor_state> state, thread_executor_* thread)
        : state_(std::move(state)), thread_(thread)
    {
    }
    ~exe_impl() override { state_->stop(); }

    // A registration change on its way to the executor thread; holds the object and the
    // executor until the job is released.
    struct change {
        vantor::refc_obj<exe_impl> owner;
        native_ref object;
    };

    static void __cdecl run_add(void* arg)
    {
        auto* c = static_cast<change*>(arg);
        c->owner->thread_->add_native(c->object);
    }
    static void __cdecl run_remove(void* arg)
    {
        auto* c = static_cast<change*>(arg);
        c->owner->thread_->remove_native(c->object);
    }
    static void __cdecl release_change(void* arg) { std::unique_ptr<change> owned(static_cast<change*>(arg)); }

    void post_change(const native_ref& object, vantor::job_fn run)
    {
        auto c = std::make_unique<change>(change{vantor::refc_obj<exe_impl>(this), object});
        state_->post(vantor::job{run, &release_change, c.get()});
        static_cast<void>(c.release());
    }

    vantor::refc_obj<executor_state> state_;
    // Valid until the thread ends, which is after the stop in the destructor; used only by jobs
    // that run on that thread.
    thread_executor_* thread_;
};

}  // namespace

vantor::refc_obj<thread_executor> make_exe_impl()
{
    return exe_impl::create();
}

void __cdecl thread_executor_post(void* queue, vantor::job_fn run, vantor::job_fn release, void* arg)
{
    try {
        static_cast<executor_state*>(queue)->post(vantor::job{run, release, arg});
    } catch (...) {
        release_job_quietly(release, arg);
    }
}

}  // namespace kova
