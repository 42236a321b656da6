#pragma once
// The manual executor: posted jobs wait until the owner runs them, on the owner's thread.
#include <cstddef>

#include "vantor/core/job.h"
#include "vantor/core/locks.h"
#include "vantor/core/semaphore.h"
#include "vantor/core/vector.h"

namespace vantor {

// Not counted: its owner (or the class derived from it) must outlive every post to it. Any
// thread may post; jobs run in posting order on the thread that calls run_ready or
// run_until_stopped, outside the executor's lock. Jobs still queued when it is destroyed are
// dropped (neither run nor released) with a log line.
class manual_executor {
public:
    manual_executor();
    manual_executor(const manual_executor&) = delete;
    manual_executor& operator=(const manual_executor&) = delete;
    virtual ~manual_executor();

    // Appends the job and wakes a waiting run_until_stopped. Throws when the job cannot be
    // queued (out of memory); the job is then not taken.
    void post(const job& j);

    // The post function of the executor's handle: post, with a failure logged and swallowed;
    // the job is then released without being run.
    static void __cdecl post_job(void* executor, job_fn run, job_fn release, void* arg);

    executor_handle executor() noexcept { return {&post_job, this}; }

    // Runs the jobs queued at the call, in order, without waiting; jobs they post wait for the
    // next call. Returns how many ran.
    std::size_t run_ready();

    // Runs jobs as they arrive until stop is called; jobs queued after the last batch taken
    // before the stop are not run.
    void run_until_stopped();

    // Any thread: ends run_until_stopped (at once when it waits, else after its current batch).
    void stop();
    bool stopped() const;

private:
    // Takes the queued jobs out under the lock; false once stopped (when `until_stopped`).
    bool take(vantor_stl::vector<job>& out, bool until_stopped);

    mutable critical_section lock_;
    vantor_stl::vector<job> jobs_;
    semaphore wake_;
    bool stopped_ = false;
};

}  // namespace vantor
