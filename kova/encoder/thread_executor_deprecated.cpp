#include "kova/encoder/thread_executor_deprecated.h"

#include <memory>

#include "kova/encoder/thread_executor_jobs.h"
#include "vantor/core/exception.h"
#include "vantor/core/log.h"

namespace kova {
namespace {

constexpr vantor::log_context executor_log{"kova_executor"};

}  // namespace

// The wake semaphore starts at 0: the thread sets the waiter before each wait, and only a
// waiter is released, so a post or stop that comes before the first wait leaves its job or flag
// for the thread to find instead of releasing a semaphore that is already at its maximum.
thread_executor_deprecated::thread_executor_deprecated() : thread(false) {}

void thread_executor_deprecated::post(const vantor::job& j)
{
    vantor::cs_lock guard(lock_.get());
    if (!running_) {
        guard.unlock();
        executor_log.write("not running any more");
        throw vantor::internal_error(42);
    }
    jobs_.push_back(j);
    if (vantor::semaphore* w = waiter_; w != nullptr) {
        waiter_ = nullptr;
        wake(*w);
    }
}

void thread_executor_deprecated::stop()
{
    vantor::cs_lock guard(lock_.get());
    running_ = false;
    if (vantor::semaphore* w = waiter_; w != nullptr) {
        waiter_ = nullptr;
        wake(*w);
    }
}

void thread_executor_deprecated::run()
{
    vantor_stl::vector<vantor::job> batch;
    bool pending_wait = false;
    for (;;) {
        try {
            if (pending_wait) {
                pending_wait = false;
                wait_for_work();
            }
            {
                vantor::cs_lock guard(lock_.get());
                batch.swap(jobs_);
                if (batch.empty()) {
                    if (running_) {
                        waiter_ = &wake_;
                        pending_wait = true;
                        continue;
                    }
                    guard.unlock();
                    executor_log.write("exiting");
                    return;
                }
            }
            run_executor_jobs(batch);
        } catch (const vantor::exception& e) {
            // Only the bookkeeping can throw here (out of memory); the thread keeps serving.
            executor_log.log(VANTOR_FMT("exc: %1%"), e.what());
            Sleep(executor_poll_ms);
        } catch (...) {
            executor_log.write("exc: na");
            Sleep(executor_poll_ms);
        }
    }
}

void thread_executor_deprecated::wait_for_work()
{
    if (polling_) {
        Sleep(executor_poll_ms);
        return;
    }
    try {
        wake_.wait();
    } catch (const vantor::exception& e) {
        // Without a working wake semaphore the queue is looked at every few milliseconds
        // instead; ending the thread would strand the jobs that are still posted to it.
        executor_log.log(VANTOR_FMT("wait failed: %1%"), e.what());
        polling_ = true;
    }
}

void thread_executor_deprecated::wake(vantor::semaphore& s) noexcept
{
    try {
        s.release();
    } catch (const vantor::exception& e) {
        executor_log.log(VANTOR_FMT("wake failed: %1%"), e.what());
    }
}

vantor::executor_handle make_deprecated_executor()
{
    auto t = std::make_unique<thread_executor_deprecated>();
    t->start(0);
    // Never deleted: see the class comment.
    return {&deprecated_executor_post, t.release()};
}

void __cdecl deprecated_executor_post(void* thread, vantor::job_fn run, vantor::job_fn release, void* arg)
{
    try {
        static_cast<thread_executor_deprecated*>(thread)->post(vantor::job{run, release, arg});
    } catch (...) {
        release_job_quietly(release, arg);
    }
}

}  // namespace kova
