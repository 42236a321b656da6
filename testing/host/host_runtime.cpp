#include "testing/host/host_runtime.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

namespace kova_testing {
namespace {

std::atomic<std::int64_t> jobs_run{0};
std::atomic<std::int64_t> timer_runs{0};

// The host runs a job as the contract says: run once, then release once.
void run_job(vantor::job j)
{
    if (j.run) j.run(j.arg);
    if (j.release) j.release(j.arg);
    ++jobs_run;
}

// One worker thread draining a queue; it lives until the process ends.
class worker {
public:
    void post(vantor::job j)
    {
        std::lock_guard guard(lock_);
        if (!started_) {
            std::thread([this] { loop(); }).detach();
            started_ = true;
        }
        queue_.push_back(j);
        wake_.notify_one();
    }

private:
    void loop()
    {
        for (;;) {
            vantor::job j;
            {
                std::unique_lock guard(lock_);
                wake_.wait(guard, [this] { return !queue_.empty(); });
                j = queue_.front();
                queue_.pop_front();
            }
            run_job(j);
        }
    }

    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<vantor::job> queue_;
    bool started_ = false;
};

worker& the_worker()
{
    static worker* w = new worker;  // never destroyed: its thread outlives main's statics
    return *w;
}

void __cdecl post_to_worker(void*, vantor::job_fn run, vantor::job_fn release, void* arg)
{
    the_worker().post({run, release, arg});
}

struct timer {
    std::int64_t value;
    std::int32_t kind;
    vantor::executor_handle executor;
    vantor::job job;
    bool cancelled = false;
};

class timer_service {
public:
    std::int64_t add(std::int64_t value, std::int32_t kind, vantor::executor_handle executor, vantor::job job)
    {
        std::lock_guard guard(lock_);
        if (kind < 0 || kind > 2) return 0;
        const std::int64_t id = ++last_id_;
        timers_[id] = {value, kind, executor, job};
        const std::int64_t due = kind == 0 ? value : kind == 1 ? host_monotonic_ms() + value : 0;
        due_.emplace(due, id);
        if (!started_) {
            std::thread([this] { loop(); }).detach();
            started_ = true;
        }
        wake_.notify_one();
        return id;
    }

    std::int32_t cancel(std::int64_t id)
    {
        std::lock_guard guard(lock_);
        auto it = timers_.find(id);
        if (it == timers_.end()) return 0;
        it->second.cancelled = true;
        wake_.notify_one();
        return 1;
    }

private:
    void loop()
    {
        std::unique_lock guard(lock_);
        for (;;) {
            // Cancelled timers are released at once.
            for (auto it = due_.begin(); it != due_.end();) {
                auto t = timers_.find(it->second);
                if (t != timers_.end() && t->second.cancelled) {
                    vantor::job j = t->second.job;
                    timers_.erase(t);
                    it = due_.erase(it);
                    guard.unlock();
                    if (j.release) j.release(j.arg);
                    guard.lock();
                    it = due_.begin();
                } else {
                    ++it;
                }
            }
            if (due_.empty()) {
                wake_.wait(guard);
                continue;
            }
            const auto [due, id] = *due_.begin();
            const std::int64_t now = host_monotonic_ms();
            if (due > now) {
                wake_.wait_for(guard, std::chrono::milliseconds(due - now));
                continue;
            }
            due_.erase(due_.begin());
            timer t = timers_[id];
            if (t.kind == 0) timers_.erase(id);
            guard.unlock();
            ++timer_runs;
            if (t.kind == 0) {
                // A once-timer's job is handed on whole (run and release).
                if (t.executor) t.executor.post_job(t.job);
                else run_job(t.job);
            } else {
                // A repeating timer's job runs each time; its release comes with the cancel.
                t.job.run(t.job.arg);
            }
            guard.lock();
            if (t.kind != 0 && timers_.count(id)) due_.emplace(host_monotonic_ms() + t.value, id);
        }
    }

    std::mutex lock_;
    std::condition_variable wake_;
    std::map<std::int64_t, timer> timers_;
    std::multimap<std::int64_t, std::int64_t> due_;
    std::int64_t last_id_ = 0;
    bool started_ = false;
};

timer_service& timers()
{
    static timer_service* t = new timer_service;  // never destroyed, as the worker
    return *t;
}

}  // namespace

void __cdecl host_default_executor(vantor::post_fn* post_out, void** context_out)
{
    *post_out = &post_to_worker;
    *context_out = nullptr;
}

std::int64_t __cdecl host_monotonic_ms()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::int64_t __cdecl host_schedule_once(std::int64_t due, vantor::post_fn, void*, vantor::job_fn run,
                                        vantor::job_fn release, void* arg)
{
    return timers().add(due, 0, {}, {run, release, arg});
}

std::int32_t __cdecl host_cancel_timer(std::int64_t id) { return timers().cancel(id); }

std::int64_t __cdecl host_schedule(std::int64_t value, std::int32_t kind, vantor::post_fn post, void* context,
                                   vantor::job_fn run, vantor::job_fn release, void* arg)
{
    return timers().add(value, kind, {post, context}, {run, release, arg});
}

void __cdecl host_schedule_once_id(std::int64_t* id_out, std::int64_t due, vantor::post_fn post, void* context,
                                   vantor::job_fn run, vantor::job_fn release, void* arg)
{
    const std::int64_t id = host_schedule_once(due, post, context, run, release, arg);
    if (id_out) *id_out = id;
}

void __cdecl host_schedule_id(std::int64_t* id_out, std::int64_t value, std::int32_t kind, vantor::post_fn post,
                              void* context, vantor::job_fn run, vantor::job_fn release, void* arg)
{
    const std::int64_t id = host_schedule(value, kind, post, context, run, release, arg);
    if (id_out) *id_out = id;
}

std::int64_t host_jobs_run() { return jobs_run.load(); }
std::int64_t host_timer_runs() { return timer_runs.load(); }

}  // namespace kova_testing
