#pragma once
// An I/O completion port used only to wake a waiting thread: packets carry no operation.
#include <memory>

#include "vantor/core/win_handle.h"

namespace vantor {

// Owned by one object (the log writer keeps one for the life of the process). post may be
// called from any thread; run from the threads that wait for wake-ups.
class native_port {
public:
    // CreateIoCompletionPort(INVALID_HANDLE_VALUE, null, 0, 0): a port tied to no file, with
    // the concurrency the system chooses. A failure is logged and leaves the object without a
    // port: post then does nothing and run raises "null IOCP handle".
    native_port();
    native_port(const native_port&) = delete;
    native_port& operator=(const native_port&) = delete;
    // Posts an empty packet, so that a thread still waiting in run returns, then closes the
    // port. No thread may enter run once destruction has begun.
    virtual ~native_port();

    // Queues an empty packet: it wakes one waiter of run, or, with none, lets the next run
    // return at once. A failure of the post is logged.
    void post() noexcept;

    // Waits without limit for the next packet and returns when one arrives. Raises "null IOCP
    // handle" without a port, and the Windows error of "GetQueuedCompletionStatus" when the
    // wait fails.
    void run();

    HANDLE handle() const noexcept { return port_.get(); }

    // A port object whose creation failed.
    static std::unique_ptr<native_port> without_port_for_testing();

private:
    struct no_port {};
    explicit native_port(no_port) noexcept;

    win_handle port_;
};

}  // namespace vantor
