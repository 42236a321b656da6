#include "vantor/core/win_handle_wait.h"

#include <utility>

#include "vantor/core/default_executor.h"
#include "vantor/core/log.h"

namespace vantor {
namespace {

constexpr log_context wait_log{"handle_wait"};

void __cdecl run_unregister(void* arg)
{
    static_cast<win_handle_wait*>(arg)->unregister();
}

void __cdecl release_object(void* arg)
{
    static_cast<win_handle_wait*>(arg)->release();
}

}  // namespace

win_handle_wait::~win_handle_wait()
{
    unregister();
}

void win_handle_wait::register_wait(refc_obj<win_handle_wait> object, HANDLE handle)
{
    win_handle_wait* self = object.get();
    if (self == nullptr) {
        throw internal_error(__LINE__);
    }
    // The lock is held across the registration so that a callback that fires at once finds the
    // wait recorded before its unregistering task can look at it.
    cs_lock guard(self->lock_.get());
    if (self->wait_ != nullptr) {
        throw internal_error(28);
    }
    self->add_ref();
    HANDLE wait = nullptr;
    if (!RegisterWaitForSingleObject(&wait, handle, &win_handle_wait::on_wait_done, self, INFINITE,
                                     WT_EXECUTEONLYONCE)) {
        exception error = exception::make_win32_error("RegisterWaitForSingleObject");
        // The caller's reference keeps the object alive, so this never ends it.
        self->release();
        throw error;
    }
    self->wait_ = wait;
}

void win_handle_wait::unregister() noexcept
{
    HANDLE wait = nullptr;
    {
        cs_lock guard(lock_.get());
        wait = std::exchange(wait_, nullptr);
    }
    if (wait == nullptr) {
        return;
    }
    // INVALID_HANDLE_VALUE makes the call wait for a callback that is still running.
    if (!UnregisterWaitEx(wait, INVALID_HANDLE_VALUE)) {
        wait_log.log(VANTOR_FMT("UnregisterWaitEx failed: %1%"), last_error_message());
    }
    release();
}

bool win_handle_wait::registered_for_testing() noexcept
{
    cs_lock guard(lock_.get());
    return wait_ != nullptr;
}

void CALLBACK win_handle_wait::on_wait_done(void* context, BOOLEAN /*timed_out*/) noexcept
{
    refc_obj<win_handle_wait> self(static_cast<win_handle_wait*>(context));
    try {
        // The wait cannot be unregistered from its own callback (that would wait for itself),
        // so a task on the default executor does it.
        self->add_ref();
        try {
            default_executor().post_job(&run_unregister, &release_object, self.get());
        } catch (...) {
            // A post that fails neither runs nor releases the job.
            self->release();
            throw;
        }
    } catch (const exception& e) {
        wait_log.log(VANTOR_FMT("cannot post unregister: %1%"), std::string(e.what()));
    } catch (...) {
        wait_log.log(VANTOR_FMT("cannot post unregister"));
    }
    try {
        self->on_signalled();
    } catch (const exception& e) {
        wait_log.log(VANTOR_FMT("on_signalled failed: %1%"), std::string(e.what()));
    } catch (...) {
        wait_log.log(VANTOR_FMT("on_signalled failed"));
    }
}

}  // namespace vantor
