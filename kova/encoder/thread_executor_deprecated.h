#pragma once
// The older executor thread of an encoder: it runs posted jobs in posting order and waits for
// nothing else. Encoders use it while the feature flag "adapt kova lib for v3" is off.
#include "vantor/core/job.h"
#include "vantor/core/locks.h"
#include "vantor/core/semaphore.h"
#include "vantor/core/thread.h"
#include "vantor/core/vector.h"

namespace kova {

// Made by make_deprecated_executor and never deleted, so that an executor handle kept past the
// stop still reaches an object that refuses the post. Its owner calls stop once it is done with
// it; the thread runs what is queued and ends. post and stop may be called from any thread.
class thread_executor_deprecated final : public vantor::thread {
public:
    thread_executor_deprecated();

    // Queues a job for the thread. After stop: logs "not running any more" on "kova_executor"
    // and raises internal error 42 (the job is not taken).
    void post(const vantor::job& j);

    // Refuses further posts; the thread runs the queued jobs, logs "exiting" and ends.
    void stop();

protected:
    void run() override;

private:
    // Waits for a post or the stop; polls when the wake semaphore can no longer be waited on.
    void wait_for_work();
    void wake(vantor::semaphore& s) noexcept;

    vantor::critical_section lock_;
    vantor_stl::vector<vantor::job> jobs_;
    // Released at most once per wait of the thread, so its count never exceeds 1.
    vantor::semaphore wake_{1, 0};
    // The wake semaphore while the thread is about to wait for work, else null.
    vantor::semaphore* waiter_ = nullptr;
    bool running_ = true;
    bool polling_ = false;
};

// {deprecated_executor_post; a new started thread_executor_deprecated}.
vantor::executor_handle make_deprecated_executor();

// The post function of make_deprecated_executor's handle: after stop the job is refused, logged
// and released without running.
void __cdecl deprecated_executor_post(void* thread, vantor::job_fn run, vantor::job_fn release, void* arg);

}  // namespace kova
