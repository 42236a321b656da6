#pragma once
// The test host's executor and timers, reached by the plug-in through the runtime function
// table: one worker thread runs posted jobs in order; one timer thread runs timers of the three
// kinds (0 once at a due time, 1 repeating from one interval on, 2 repeating from now) on their
// executor, or on the timer thread when none is given.
#include <cstdint>

#include "vantor/core/job.h"

namespace kova_testing {

void __cdecl host_default_executor(vantor::post_fn* post_out, void** context_out);

std::int64_t __cdecl host_schedule_once(std::int64_t due, vantor::post_fn post, void* context, vantor::job_fn run,
                                        vantor::job_fn release, void* arg);
std::int32_t __cdecl host_cancel_timer(std::int64_t id);
std::int64_t __cdecl host_schedule(std::int64_t value, std::int32_t kind, vantor::post_fn post, void* context,
                                   vantor::job_fn run, vantor::job_fn release, void* arg);
void __cdecl host_schedule_once_id(std::int64_t* id_out, std::int64_t due, vantor::post_fn post, void* context,
                                   vantor::job_fn run, vantor::job_fn release, void* arg);
void __cdecl host_schedule_id(std::int64_t* id_out, std::int64_t value, std::int32_t kind, vantor::post_fn post,
                              void* context, vantor::job_fn run, vantor::job_fn release, void* arg);
std::int64_t __cdecl host_monotonic_ms();

// How many jobs the host's executor and timers have run.
std::int64_t host_jobs_run();
std::int64_t host_timer_runs();

}  // namespace kova_testing
