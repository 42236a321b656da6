#pragma once
// A counted object that is called back once when a kernel handle is signalled, through a wait of
// the Windows thread pool. While a wait is registered the object holds one reference on itself,
// so it lives at least until the wait is over.
//
// Threads: on_signalled runs on a thread-pool thread; the wait is then unregistered by a task
// on the default executor, so a derived class must expect both threads besides its own.
#include "vantor/core/locks.h"
#include "vantor/core/refc_obj.h"
#include "vantor/core/win_api.h"

namespace vantor {

class win_handle_wait : public refc_obj_class {
public:
    // Registers a one-time wait on `handle` (which must stay open until the wait is over).
    // Raises internal error 28 when a wait is still registered and the Windows error of
    // "RegisterWaitForSingleObject" when the registration fails (the object is then unchanged).
    // The reference passed in is released on return; an empty one raises an internal error.
    static void register_wait(refc_obj<win_handle_wait> object, HANDLE handle);

    // Takes the wait out; when there was one, waits until a running callback has returned and
    // drops the wait's reference. The caller holds a reference of its own. Must not be called
    // from on_signalled.
    void unregister() noexcept;

    bool registered_for_testing() noexcept;

protected:
    win_handle_wait() = default;
    ~win_handle_wait() override;

    // Called once, on a thread-pool thread, when the handle is signalled. What it throws is
    // logged and dropped.
    virtual void on_signalled() = 0;

private:
    static void CALLBACK on_wait_done(void* context, BOOLEAN timed_out) noexcept;

    critical_section lock_;
    HANDLE wait_ = nullptr;
};

}  // namespace vantor
