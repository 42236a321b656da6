#include "vantor/core/ptask.h"

#include "vantor/core/log.h"

namespace vantor {
namespace {

const log_context ptask_log{"ptask"};

}  // namespace

ptask_void::~ptask_void() = default;

void ptask_void::release() noexcept
{
    if (count_.fetch_sub(1, std::memory_order_acq_rel) != 1) {
        return;
    }
    // The count reached 0 exactly once, so the task is posted once.
    try {
        if (!executor_) {
            throw internal_error(__LINE__);
        }
        executor_.post_job(&run_job, &destroy_job, this);
        return;
    } catch (const exception& e) {
        ptask_log.log(VANTOR_FMT("task not posted: %1%"), e.what());
    } catch (...) {
        ptask_log.write("task not posted");
    }
    // The executor did not take the job, so nobody else will run or destroy the task; its
    // destruction fails its future.
    destroy_job(this);
}

void ptask_void::attach_to(fut_state_base& source, bool& already_failed)
{
    source.add_continuation(record(), &add_ref_fn, this, &already_failed);
}

void ptask_void::detach_from(fut_state_base& source) noexcept
{
    if (source.remove_continuation(record())) {
        release();
    }
}

fut_continuation ptask_void::record() noexcept
{
    return {this, &release_fn, &source_failed_fn};
}

void __cdecl ptask_void::add_ref_fn(void* task)
{
    static_cast<ptask_void*>(task)->add_ref();
}

void __cdecl ptask_void::release_fn(void* task)
{
    static_cast<ptask_void*>(task)->release();
}

void __cdecl ptask_void::source_failed_fn(void* task, const char*)
{
    auto* self = static_cast<ptask_void*>(task);
    try {
        self->on_source_failed();
    } catch (const exception& e) {
        ptask_log.log(VANTOR_FMT("source failure not handled: %1%"), e.what());
    } catch (...) {
        ptask_log.write("source failure not handled");
    }
    self->release();
}

void __cdecl ptask_void::run_job(void* task)
{
    try {
        static_cast<ptask_void*>(task)->run();
    } catch (const exception& e) {
        ptask_log.log(VANTOR_FMT("task failed: %1%"), e.what());
    } catch (...) {
        ptask_log.write("task failed");
    }
}

void __cdecl ptask_void::destroy_job(void* task)
{
    delete static_cast<ptask_void*>(task);
}

}  // namespace vantor
