#include "vantor/core/job.h"

#include "vantor/core/exception.h"
#include "vantor/core/log.h"

namespace vantor {

void job::execute() noexcept
{
    try {
        if (run) run(arg);
    } catch (...) {
    }
    try {
        if (release) release(arg);
    } catch (...) {
    }
}

void job::release_after_failed_post(const log_context& log) const noexcept
{
    try {
        log.log(VANTOR_FMT("post failed, job released without running: %1%"), current_exception_text());
    } catch (...) {
    }
    job{nullptr, release, arg}.execute();
}

}  // namespace vantor
