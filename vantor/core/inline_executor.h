#pragma once
// The inline executor: runs each posted job at once on the posting thread, with whatever locks
// that thread holds.
#include "vantor/core/job.h"

namespace vantor {

// The post function of inline_executor: run(arg), then release(arg), each with every exception
// swallowed, before returning. The context is ignored.
void __cdecl run_job_inline(void* context, job_fn run, job_fn release, void* arg);

// {run_job_inline; null}. A serial queue over it is drained by the poster that finds it idle.
inline constexpr executor_handle inline_executor{&run_job_inline, nullptr};

}  // namespace vantor
