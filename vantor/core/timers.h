#pragma once
// Delayed and periodic jobs. The host's timer entries are used when it offers them; otherwise
// the local service keeps the timers in a table and runs them from one timer thread, which
// starts with the first filed timer and ends when no timer is due any more.
#include <cstddef>
#include <cstdint>

#include "vantor/core/job.h"

namespace vantor {

// How a timer's value is read and when it runs again. The values cross the host boundary.
enum class timer_kind : std::int32_t {
    once = 0,           // once, at the value as an absolute monotonic due time
    repeating = 1,      // every value ms, the first run one interval from now
    repeating_now = 2,  // every value ms, the first run at once
};

namespace timers {

// Timer ids are issued from 1 upwards; an id of 0 or below never names a timer.
using timer_id = std::int64_t;

// Creates the timer table, its lock and its semaphore (run by the foundation start; everything
// is also created on first use).
void init();

// Schedules `j` and stores the new id through `id_out` when given. `value` is the due time
// (monotonic ms, kind once) or the interval in ms (repeating kinds). With an executor the job is
// posted to it when due (an executor that gives that job back without running it ends the
// timer); with a null post function it runs on the timer thread. A repeating
// timer's next run is counted from the end of its previous run, so it never overlaps itself.
// The job's run is called once per run (exceptions swallowed); its release once, after the
// last run or after a cancel.
// The host's schedule entry is used when it offers one. Throws vantor::exception for a kind
// that is not a timer_kind, and whatever starting the timer thread raises; in both cases the
// job is not taken (neither run nor released) and no id is stored.
void schedule(timer_id* id_out, timer_kind kind, std::int64_t value, executor_handle executor, job j);

// A kind-once timer at `due` (monotonic ms) that runs on the timer thread (or the host's timer
// executor). The host's once entries are used when it offers them.
void schedule_once(timer_id* id_out, std::int64_t due, job j);

// schedule_once without keeping the id.
void post_delayed(std::int64_t due, job j);

// A repeating timer with a 20-minute interval on `executor`, without keeping the id.
void schedule_repeating_20min(executor_handle executor, job j);

// Cancels a timer: a waiting timer is removed and its job released at once (its run is never
// called); a running one is released after its current run and not run again. Returns 1 when
// the id named a live timer, 0 otherwise (ids below 1, unknown and finished ids change
// nothing). The host's cancel entry is used when it offers one, and its result returned.
std::int32_t cancel(timer_id id);

// Whether the local service's job release of repeating timers scheduled without an id ends the
// process (such a timer can never be cancelled, so releasing it means the table is broken). The
// feature-flag service installs a query for its flag "do not allow delete of repeating tasks
// without task id" at start-up; without one the answer is no.
using crash_query = bool (*)();
void set_unkept_repeating_release_query(crash_query query);

// State of the local service, for tests: whether a timer thread runs, how many timer threads
// have been started, and how many timers are live.
bool thread_running_for_testing();
std::int64_t threads_started_for_testing();
std::size_t live_timers_for_testing();

}  // namespace timers
}  // namespace vantor
