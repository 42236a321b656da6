#include "vantor/core/task_batch.h"

#include <exception>
#include <string>

#include "vantor/core/exception.h"
#include "vantor/core/log.h"

namespace vantor {
namespace {

constexpr log_context batch_log{"task_batch"};


}  // namespace

task_batch::task_batch() : wake_(0x7fffffff, 0) {}

task_batch::~task_batch()
{
    if (!jobs_.empty()) {
        try {
            batch_log.log(VANTOR_FMT("batch destroyed with %1% jobs not run"), jobs_.size());
        } catch (...) {
        }
    }
}

void task_batch::post(const job& j)
{
    cs_lock guard(lock_.get());
    jobs_.push_back(j);
    // Only the step from empty to one job wakes the owner: it takes every job at once.
    if (jobs_.size() == 1) {
        wake_.release();
    }
}

void __cdecl task_batch::post_job(void* batch, job_fn run, job_fn release, void* arg)
{
    try {
        static_cast<task_batch*>(batch)->post(job{run, release, arg});
    } catch (...) {
        job{run, release, arg}.release_after_failed_post(batch_log);
    }
}

bool task_batch::run_pending(bool* out_empty)
{
    wake_.wait();
    vantor_stl::vector<job> taken;
    {
        cs_lock guard(lock_.get());
        if (!open_) {
            return false;
        }
        taken.swap(jobs_);
    }
    for (job& j : taken) {
        j.execute();
    }
    if (out_empty != nullptr) {
        *out_empty = taken.empty();
    }
    return true;
}

void task_batch::run_until_closed()
{
    while (run_pending(nullptr)) {
    }
}

void task_batch::close()
{
    cs_lock guard(lock_.get());
    open_ = false;
    wake_.release();
}

}  // namespace vantor
