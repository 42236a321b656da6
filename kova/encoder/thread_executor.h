#pragma once
// The executor of one encoder: a dedicated thread that runs posted jobs in posting order and
// also waits on the Windows handles of registered native objects, calling each back on the same
// thread when its handle is signalled.
#include "vantor/core/job.h"
#include "vantor/core/refc_obj.h"
#include "vantor/core/win_api.h"

namespace kova {

// Counted; made by make_exe_impl and owned by the encoder. Dropping the last reference stops the
// thread: the jobs already queued still run, then the thread ends and frees itself. Any thread
// may call the operations.
class thread_executor : public vantor::refc_obj_class {
public:
    class native;

    // {thread_executor_post; the executor's job queue}. Jobs posted through it run on the
    // executor thread in posting order. The handle is usable while a reference to the executor
    // is held; after the last one is dropped, posts are refused (the job is released without
    // running) until the thread has drained and ended, and must not be made afterwards.
    virtual vantor::executor_handle executor() = 0;

    // Registers or unregisters a native object. Both are posted as jobs, so the wait list
    // changes only on the executor thread, after the jobs queued before. A null object, one
    // already registered, one without a handle or one whose handle another registered object
    // has is not registered (the last two are logged). At most 63 natives are waited for.
    virtual void add_native(const vantor::refc_obj<native>& object) = 0;
    virtual void remove_native(const vantor::refc_obj<native>& object) = 0;

protected:
    thread_executor() = default;
    ~thread_executor() override = default;
};

// A counted object the executor waits for. The executor holds a reference while it is
// registered and calls it only on the executor thread.
class thread_executor::native : public vantor::refc_obj_class {
public:
    // A waitable handle, or null for none. It must stay open while the object is registered; a
    // handle that can no longer be waited on makes the executor drop the object (logged).
    virtual HANDLE native_handle() = 0;
    // Called on the executor thread when the handle is signalled or abandoned; exceptions are
    // swallowed. A handle that stays signalled is reported again at every turn, in rotation
    // with the other handles and the job queue.
    virtual void signalled() = 0;

protected:
    native() = default;
    ~native() override = default;
};

// Starts a new executor thread at normal priority.
vantor::refc_obj<thread_executor> make_exe_impl();

// The post function of thread_executor::executor(): queues the job on the thread. After the
// executor was stopped the job is refused: logged "not running any more" and released without
// running.
void __cdecl thread_executor_post(void* queue, vantor::job_fn run, vantor::job_fn release, void* arg);

}  // namespace kova
