#pragma once
// The process's default executor: the host's when its function table offers one, else the
// local thread pool.
#include "vantor/core/job.h"

namespace vantor {

// The host's executor when host().default_executor is set and fills in a post function; else
// {thread_pool::post_job; local_timer_pool()}, the pool created on first use. Any thread.
executor_handle default_executor();

}  // namespace vantor
