#include "vantor/core/manual_executor.h"

#include <exception>
#include <string>

#include "vantor/core/exception.h"
#include "vantor/core/log.h"

namespace vantor {
namespace {

constexpr log_context manual_log{"manual_executor"};


std::size_t execute_all(vantor_stl::vector<job>& jobs)
{
    for (job& j : jobs) {
        j.execute();
    }
    return jobs.size();
}

}  // namespace

manual_executor::manual_executor() : wake_(0x7fffffff, 0) {}

manual_executor::~manual_executor()
{
    if (!jobs_.empty()) {
        try {
            manual_log.log(VANTOR_FMT("executor destroyed with %1% jobs not run"), jobs_.size());
        } catch (...) {
        }
    }
}

void manual_executor::post(const job& j)
{
    cs_lock guard(lock_.get());
    jobs_.push_back(j);
    // The owner takes every job at once, so only the step from empty to one job wakes it.
    if (jobs_.size() == 1) {
        wake_.release();
    }
}

void __cdecl manual_executor::post_job(void* executor, job_fn run, job_fn release, void* arg)
{
    try {
        static_cast<manual_executor*>(executor)->post(job{run, release, arg});
    } catch (...) {
        job{run, release, arg}.release_after_failed_post(manual_log);
    }
}

bool manual_executor::take(vantor_stl::vector<job>& out, bool until_stopped)
{
    cs_lock guard(lock_.get());
    if (until_stopped && stopped_) {
        return false;
    }
    out.swap(jobs_);
    return true;
}

std::size_t manual_executor::run_ready()
{
    vantor_stl::vector<job> taken;
    take(taken, false);
    return execute_all(taken);
}

void manual_executor::run_until_stopped()
{
    for (;;) {
        // A wake-up may find nothing: run_ready can have taken the jobs that caused it.
        wake_.wait();
        vantor_stl::vector<job> taken;
        if (!take(taken, true)) {
            return;
        }
        execute_all(taken);
    }
}

void manual_executor::stop()
{
    cs_lock guard(lock_.get());
    stopped_ = true;
    wake_.release();
}

bool manual_executor::stopped() const
{
    cs_lock guard(lock_.get());
    return stopped_;
}

}  // namespace vantor
