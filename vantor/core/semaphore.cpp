#include "vantor/core/semaphore.h"

#include <limits>

#include "vantor/core/exception.h"

namespace vantor {

namespace wait_time {

std::int64_t seconds_to_ms(std::int64_t seconds) noexcept
{
    constexpr std::int64_t max = std::numeric_limits<std::int64_t>::max();
    if (seconds <= 0) {
        return 0;
    }
    if (seconds > max / 1000) {
        return max;
    }
    return seconds * 1000;
}

std::uint32_t next_chunk_ms(std::int64_t remaining_ms) noexcept
{
    constexpr std::int64_t largest_finite = static_cast<std::int64_t>(INFINITE) - 1;
    if (remaining_ms <= 0) {
        return 0;
    }
    if (remaining_ms > largest_finite) {
        return static_cast<std::uint32_t>(largest_finite);
    }
    return static_cast<std::uint32_t>(remaining_ms);
}

}  // namespace wait_time

semaphore::semaphore(std::int32_t maximum, std::int32_t initial)
    : handle_(CreateSemaphoreW(nullptr, initial, maximum, nullptr))
{
    if (!handle_) {
        throw exception::make_win32_error("CreateSemaphoreW");
    }
}

semaphore::~semaphore() = default;

bool semaphore::wait_seconds(std::int64_t seconds)
{
    return wait_ms(wait_time::seconds_to_ms(seconds));
}

void semaphore::wait()
{
    if (WaitForSingleObject(handle_.get(), INFINITE) == WAIT_FAILED) {
        throw exception::make_win32_error("WaitForSingleObject");
    }
}

void semaphore::release()
{
    if (!ReleaseSemaphore(handle_.get(), 1, nullptr)) {
        throw exception::make_win32_error("ReleaseSemaphore");
    }
}

bool semaphore::wait_ms(std::int64_t milliseconds)
{
    std::int64_t remaining = milliseconds < 0 ? 0 : milliseconds;
    for (;;) {
        DWORD chunk = wait_time::next_chunk_ms(remaining);
        if (wait_once(chunk)) {
            return true;
        }
        remaining -= chunk;
        if (remaining <= 0) {
            return false;
        }
    }
}

bool semaphore::wait_once(DWORD milliseconds)
{
    DWORD r = WaitForSingleObject(handle_.get(), milliseconds);
    if (r == WAIT_FAILED) {
        throw exception::make_win32_error("WaitForSingleObject");
    }
    return r == WAIT_OBJECT_0;
}

}  // namespace vantor
