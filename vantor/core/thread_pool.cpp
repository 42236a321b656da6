#include "vantor/core/thread_pool.h"

#include <atomic>
#include <exception>
#include <limits>
#include <memory>

#include "vantor/core/exception.h"
#include "vantor/core/log.h"
#include "vantor/core/semaphore.h"
#include "vantor/core/thread.h"

namespace vantor {
namespace {

constexpr log_context pool_log{"thread_pool"};

constexpr std::int32_t semaphore_maximum = 0x7fffffff;

std::atomic<thread_pool::idle_wait_hook> idle_hook{nullptr};


}  // namespace

// One worker of a pool. Auto-delete: it deletes itself when its loop ends, and drops its pool
// reference then. Its job and the wake semaphore are handed over under the pool's lock.
class thread_pool_thread final : public thread {
public:
    thread_pool_thread(thread_pool* pool, const job& first)
        : thread(true), pool_(pool), wake_(semaphore_maximum, 0), job_(first), has_job_(true)
    {
    }

    // Called by post under the pool's lock, for a worker taken out of the idle set.
    void hand_over(const job& j)
    {
        job_ = j;
        has_job_ = true;
        wake_.release();
    }

private:
    void run() override
    {
        try {
            loop();
        } catch (...) {
            give_up(std::current_exception());
        }
    }

    void loop()
    {
        thread_pool& pool = *pool_;
        for (;;) {
            job_.execute();
            {
                cs_lock guard(pool.lock_.get());
                if (!pool.queue_.empty()) {
                    job_ = pool.queue_.front();
                    pool.queue_.pop_front();
                    continue;
                }
                job_ = {};
                has_job_ = false;
                pool.idle_.insert(this);
            }
            bool woken = wake_.wait_ms(pool.idle_timeout_ms_);
            if (thread_pool::idle_wait_hook hook = idle_hook.load(); hook != nullptr) {
                hook(&pool, woken);
            }
            cs_lock guard(pool.lock_.get());
            if (has_job_) {
                if (!woken) {
                    // The job came after the time-out; its release of the semaphore is already
                    // done (post releases under the lock) and is taken back here, so that the
                    // next idle wait lasts the full time-out.
                    wake_.wait_ms(0);
                }
                continue;
            }
            pool.idle_.erase(this);
            --pool.live_;
            return;
        }
    }

    // The loop failed outside a job (out of memory, a failed wait): the worker leaves the pool,
    // and a job handed to it meanwhile goes back to the front of the queue for the next worker.
    void give_up(std::exception_ptr failure) noexcept
    {
        try {
            pool_log.log(VANTOR_FMT("worker failed: %1%"), exception_text(failure));
        } catch (...) {
        }
        thread_pool& pool = *pool_;
        cs_lock guard(pool.lock_.get());
        try {
            pool.idle_.erase(this);
        } catch (...) {
        }
        if (has_job_) {
            try {
                pool.queue_.push_front(job_);
            } catch (...) {
                try {
                    pool_log.log(VANTOR_FMT("job lost with its failed worker"));
                } catch (...) {
                }
            }
        }
        --pool.live_;
    }

    refc_obj<thread_pool> pool_;
    semaphore wake_;
    job job_;
    bool has_job_;  // a job is waiting in job_; a job's run function may be null
};

thread_pool::thread_pool(std::int32_t maximum, std::int64_t idle_timeout_ms)
    : maximum_(maximum < 1 ? 1 : maximum),
      idle_timeout_ms_(idle_timeout_ms < min_idle_timeout_ms ? min_idle_timeout_ms : idle_timeout_ms)
{
}

thread_pool::~thread_pool() = default;

refc_obj<thread_pool> thread_pool::create(std::int32_t maximum, std::int64_t idle_timeout_ms)
{
    return refc_obj<thread_pool>(new thread_pool(maximum, idle_timeout_ms));
}

void thread_pool::post(const job& j)
{
    cs_lock guard(lock_.get());
    if (!idle_.empty()) {
        thread_pool_thread* worker = *idle_.begin();
        idle_.erase(worker);
        worker->hand_over(j);
        return;
    }
    if (live_ >= maximum_) {
        queue_.push_back(j);
        return;
    }
    auto worker = std::make_unique<thread_pool_thread>(this, j);
    worker->start(priority_);
    // The started worker owns itself from here on; it cannot end before the lock is left.
    static_cast<void>(worker.release());
    ++live_;
}

void __cdecl thread_pool::post_job(void* pool, job_fn run, job_fn release, void* arg)
{
    try {
        static_cast<thread_pool*>(pool)->post(job{run, release, arg});
    } catch (...) {
        job{run, release, arg}.release_after_failed_post(pool_log);
    }
}

thread_pool::counts thread_pool::counts_for_testing()
{
    cs_lock guard(lock_.get());
    return {live_, idle_.size(), queue_.size()};
}

void thread_pool::set_idle_wait_hook_for_testing(idle_wait_hook hook)
{
    idle_hook.store(hook);
}

thread_pool& local_timer_pool()
{
    static thread_pool* pool = [] {
        refc_obj<thread_pool> p = thread_pool::create(std::numeric_limits<std::int32_t>::max(), 5000);
        // The process keeps this reference until it ends.
        p->add_ref();
        return p.get();
    }();
    return *pool;
}

}  // namespace vantor
