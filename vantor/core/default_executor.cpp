#include "vantor/core/default_executor.h"

#include <atomic>

#include "vantor/core/host_hooks.h"
#include "vantor/core/log.h"
#include "vantor/core/thread_pool.h"

namespace vantor {
namespace {

constexpr log_context executor_log{"executor"};

std::atomic<bool> null_host_executor_logged{false};

}  // namespace

executor_handle default_executor()
{
    if (auto host_executor = host().default_executor; host_executor != nullptr) {
        executor_handle handle;
        host_executor(&handle.post, &handle.context);
        if (handle.post != nullptr) {
            return handle;
        }
        // A null post function would fault at the first post; the local pool runs the work
        // instead.
        if (!null_host_executor_logged.exchange(true)) {
            executor_log.log(VANTOR_FMT("host executor has no post function, using the local pool"));
        }
    }
    return local_timer_pool().executor();
}

}  // namespace vantor
