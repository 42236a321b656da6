#pragma once
// A pool of worker threads that runs posted jobs, several at once: workers start on demand up
// to a maximum and end after waiting an idle time-out without work.
#include <cstdint>

#include "vantor/core/job.h"
#include "vantor/core/list_base.h"
#include "vantor/core/locks.h"
#include "vantor/core/map.h"
#include "vantor/core/refc_obj.h"

namespace vantor {

class thread_pool_thread;

// Counted; held by its owner and by each of its workers, so a pool whose owner lets go lives on
// until its last worker has ended. Executor handles carry a plain pointer: the owner keeps the
// pool alive while handles to it are in use. Posting is allowed from any thread; jobs run on
// the workers, outside the pool's lock, and only queued jobs start in order (first in, first
// out). Nothing orders their completion: ordered execution is the serial queue's business.
class thread_pool final : public refc_obj_class {
public:
    // Idle time-outs below this are raised to it, so that a short time-out does not make every
    // job pay for a thread start.
    static constexpr std::int64_t min_idle_timeout_ms = 2000;

    // maximum: the largest number of workers (values below 1 are taken as 1, since a pool
    // without workers would queue jobs for ever); idle_timeout_ms: how long a worker waits for
    // a job before it ends.
    static refc_obj<thread_pool> create(std::int32_t maximum, std::int64_t idle_timeout_ms);

    // Hands the job to an idle worker, else queues it when the maximum of workers runs, else
    // starts a worker for it. A failure to start the worker propagates (thread::start) and the
    // job is then not taken: the caller still owns it.
    void post(const job& j);

    // The post function of the pool's executor handle: post, with every failure logged and
    // swallowed. A job whose post failed is released without being run.
    static void __cdecl post_job(void* pool, job_fn run, job_fn release, void* arg);

    executor_handle executor() noexcept { return {&post_job, this}; }

    std::int32_t maximum() const noexcept { return maximum_; }
    std::int64_t idle_timeout_ms() const noexcept { return idle_timeout_ms_; }

    struct counts {
        std::int32_t live;   // workers
        std::size_t idle;    // workers waiting for a job
        std::size_t queued;  // jobs waiting for a worker
    };
    counts counts_for_testing();

    // Called by a worker right after its idle wait returned (true: it was woken, false: the
    // time-out passed), before it looks at its job again; null removes it. Lets tests post
    // into the gap between a timed-out wait and the worker's decision to end.
    using idle_wait_hook = void (*)(thread_pool* pool, bool woken);
    static void set_idle_wait_hook_for_testing(idle_wait_hook hook);

private:
    friend class thread_pool_thread;

    thread_pool(std::int32_t maximum, std::int64_t idle_timeout_ms);
    ~thread_pool() override;

    critical_section lock_;
    vantor_stl::list<job> queue_;
    vantor_stl::set<thread_pool_thread*> idle_;
    std::int32_t live_ = 0;
    const std::int32_t maximum_;
    const std::int64_t idle_timeout_ms_;
    const std::int32_t priority_ = 0;
};

// The process's local pool behind the default executor and the local timers: no worker limit
// and a 5000 ms idle time-out. Created on first use (thread-safe) and never released.
thread_pool& local_timer_pool();

}  // namespace vantor
