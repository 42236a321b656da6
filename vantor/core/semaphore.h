#pragma once
// A counting semaphore over a Win32 semaphore object, and the conversion of 64-bit wait times to
// the system's 32-bit time-outs.
#include <cstdint>

#include "vantor/core/win_handle.h"

namespace vantor {

namespace wait_time {

// seconds * 1000 without overflow: negative values give 0, values whose product does not fit
// give the largest int64.
std::int64_t seconds_to_ms(std::int64_t seconds) noexcept;

// The next single system wait for a remaining time in milliseconds: negative values give 0, and
// a remaining time that does not fit below INFINITE gives the largest finite wait, so a long
// time-out is waited in several chunks instead of wrapping into a short or endless one.
std::uint32_t next_chunk_ms(std::int64_t remaining_ms) noexcept;

}  // namespace wait_time

// Any thread may wait on and release the same semaphore. Failures raise the Windows error of the
// failing function ("CreateSemaphoreW", "WaitForSingleObject", "ReleaseSemaphore").
class semaphore {
public:
    semaphore(std::int32_t maximum, std::int32_t initial);
    semaphore(const semaphore&) = delete;
    semaphore& operator=(const semaphore&) = delete;
    virtual ~semaphore();

    // wait_ms(seconds * 1000), the product clamped as above.
    virtual bool wait_seconds(std::int64_t seconds);
    // Waits without limit.
    virtual void wait();
    // Raises the count by 1; raises "ReleaseSemaphore" when the maximum would be exceeded.
    virtual void release();
    // True when the semaphore was obtained within `milliseconds`, false on time-out. Negative
    // values wait 0 ms; every other value is waited in full, however long.
    virtual bool wait_ms(std::int64_t milliseconds);

    HANDLE native_handle() const noexcept { return handle_.get(); }

private:
    bool wait_once(DWORD milliseconds);

    win_handle handle_;
};

}  // namespace vantor
