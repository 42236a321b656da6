#pragma once
// The task batch: an executor whose jobs run on the thread that owns it, in batches, when that
// thread asks for them.
#include "vantor/core/job.h"
#include "vantor/core/locks.h"
#include "vantor/core/semaphore.h"
#include "vantor/core/vector.h"

namespace vantor {

// Embedded in its owner (not counted), which must outlive every post to it. Any thread may post;
// one owner thread runs the jobs, in posting order, outside the batch's lock. Jobs posted after
// close are kept but never run, and are dropped (neither run nor released) with the batch.
class task_batch {
public:
    task_batch();
    task_batch(const task_batch&) = delete;
    task_batch& operator=(const task_batch&) = delete;
    ~task_batch();

    // Appends the job and wakes the owner when the batch was empty. Throws when the job cannot
    // be queued (out of memory); the job is then not taken.
    void post(const job& j);

    // The post function of the batch's executor handle: post, with a failure logged and
    // swallowed; the job is then released without being run.
    static void __cdecl post_job(void* batch, job_fn run, job_fn release, void* arg);

    executor_handle executor() noexcept { return {&post_job, this}; }

    // Owner thread only. Waits without limit for a wake-up; then, while open, runs every queued
    // job in order, sets *out_empty (when given) to whether there was none, and returns true.
    // Returns false, running nothing, once the batch is closed.
    bool run_pending(bool* out_empty = nullptr);

    // Runs run_pending until it returns false.
    void run_until_closed();

    // Any thread: marks the batch closed and wakes the owner, whose loop then ends after the
    // jobs it has already taken out.
    void close();

private:
    critical_section lock_;
    vantor_stl::vector<job> jobs_;
    semaphore wake_;
    bool open_ = true;
};

}  // namespace vantor
