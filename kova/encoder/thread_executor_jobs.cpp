#include "kova/encoder/thread_executor_jobs.h"

#include "vantor/core/exception.h"
#include "vantor/core/log.h"

namespace kova {
namespace {

constexpr vantor::log_context executor_log{"kova_executor"};

}  // namespace

void run_executor_jobs(vantor_stl::vector<vantor::job>& jobs) noexcept
{
    for (const vantor::job& j : jobs) {
        try {
            if (j.run != nullptr) {
                j.run(j.arg);
            }
        } catch (const vantor::exception& e) {
            try {
                executor_log.log(VANTOR_FMT("exc: %1%"), e.what());
            } catch (...) {
            }
        } catch (...) {
            try {
                executor_log.write("exc: na");
            } catch (...) {
            }
        }
        release_job_quietly(j.release, j.arg);
    }
    jobs.clear();
}

void release_job_quietly(vantor::job_fn release, void* arg) noexcept
{
    try {
        if (release != nullptr) {
            release(arg);
        }
    } catch (...) {
        // A release has nobody to report to; the executor goes on.
    }
}

}  // namespace kova
