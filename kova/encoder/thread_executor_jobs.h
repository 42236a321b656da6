#pragma once
// What the engine's executor threads share: running a batch of jobs and releasing a job.
#include "vantor/core/job.h"
#include "vantor/core/vector.h"
#include "vantor/core/win_api.h"

namespace kova {

// How long an executor thread that can no longer wait on its wake semaphore sleeps between two
// looks at its job queue.
constexpr DWORD executor_poll_ms = 50;

// Runs the jobs in order on the calling thread and empties the vector. A job's run that throws
// is logged on "kova_executor" ("exc: %1%" with the text of a vantor::exception, "exc: na" for
// anything else); its release is then called as usual, every exception of it swallowed.
void run_executor_jobs(vantor_stl::vector<vantor::job>& jobs) noexcept;

// Calls a job's release, swallowing every exception. Executors also use it for a job they
// refuse, which is released without running so that its argument is freed.
void release_job_quietly(vantor::job_fn release, void* arg) noexcept;

}  // namespace kova
