#pragma once
// The serial queue: ordered, one-at-a-time execution of one object's jobs on top of any
// executor.
#include "vantor/core/job.h"

namespace vantor {

// A holder of one reference to a queue's shared state; copies of a holder share the queue. The
// owner keeps a holder; the queue's executor handle points at that holder, so the holder must
// stay at its address while the handle is in use. The state lives while any holder or a
// scheduled drain refers to it.
//
// Jobs posted to the queue run on the target executor in posting order and never two at once,
// possibly on different threads of the target over time; state touched only by one queue's
// jobs needs no lock. Posting is allowed from any thread. At most one drain of a queue is
// scheduled or running at a time: it runs every job it finds, including jobs posted while it
// runs, and ends only when it has found the queue empty under the lock.
//
// When the target cannot take the drain (its post throws, or it releases the drain job without
// running it), the failure is logged with the number of waiting jobs, and the jobs stay
// queued: the next post schedules a drain again. A queue destroyed with jobs still in it logs
// how many it drops; dropped jobs are neither run nor released.
class serial_queue {
public:
    explicit serial_queue(const executor_handle& target);
    serial_queue(const serial_queue& other) noexcept;
    serial_queue& operator=(const serial_queue& other) noexcept;
    ~serial_queue();

    // Appends the job and schedules a drain on the target when none is scheduled or running.
    // Throws only when the job cannot be queued (out of memory); the job is then not taken.
    void post(const job& j);

    // The post function of the queue's executor handle; the context is the holder. Calls post;
    // a failure is logged and swallowed, and the job is released without being run.
    static void __cdecl post_job(void* holder, job_fn run, job_fn release, void* arg);

    // {post_job; this holder}.
    executor_handle executor() noexcept { return {&post_job, this}; }
    executor_handle target() const noexcept;

    // Whether a drain is scheduled or running.
    bool draining_for_testing() const;

private:
    class state;
    struct scheduled_drain;

    // A new holder of an existing state.
    explicit serial_queue(state* s) noexcept;

    static void __cdecl run_drain(void* scheduled);
    static void __cdecl release_drain(void* scheduled);
    static void drain(state& s);
    static void schedule_drain(state& s);
    static void drain_not_scheduled(state& s, const char* reason) noexcept;

    state* state_;
};

}  // namespace vantor
