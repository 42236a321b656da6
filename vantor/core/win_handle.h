#pragma once
// Owners of Windows resources: one move-only template that closes what it holds through a close
// policy, and one alias per kind of resource. Closing never changes the calling thread's last
// error, so an owner that goes out of scope on an error path keeps the error for the caller.
#include <cstdint>
#include <utility>
#include <vector>

#include "vantor/core/win_api.h"

namespace vantor {

// A close policy names the held type, its empty value, which values count as empty and the
// function that closes a non-empty value (returning the system's BOOL).
struct kernel_handle_policy {
    using value_type = HANDLE;
    static value_type empty() noexcept { return nullptr; }
    static bool is_empty(value_type v) noexcept { return v == nullptr; }
    static BOOL close(value_type v) noexcept { return CloseHandle(v); }
};

// Handles from CreateFileW and friends, which report failure as INVALID_HANDLE_VALUE; a null
// value is empty as well.
struct file_handle_policy {
    using value_type = HANDLE;
    static value_type empty() noexcept { return INVALID_HANDLE_VALUE; }
    static bool is_empty(value_type v) noexcept { return v == INVALID_HANDLE_VALUE || v == nullptr; }
    static BOOL close(value_type v) noexcept { return CloseHandle(v); }
};

struct module_policy {
    using value_type = HMODULE;
    static value_type empty() noexcept { return nullptr; }
    static bool is_empty(value_type v) noexcept { return v == nullptr; }
    static BOOL close(value_type v) noexcept { return FreeLibrary(v); }
};

// Owns one value of a close policy's type. Not thread-safe: one owner is used by one thread at a
// time. No operation raises.
template <typename Policy>
class unique_win_object {
public:
    using value_type = typename Policy::value_type;

    unique_win_object() noexcept = default;
    explicit unique_win_object(value_type value) noexcept : value_(value) {}
    unique_win_object(const unique_win_object&) = delete;
    unique_win_object& operator=(const unique_win_object&) = delete;
    unique_win_object(unique_win_object&& other) noexcept : value_(other.take()) {}
    unique_win_object& operator=(unique_win_object&& other) noexcept
    {
        if (this != &other) {
            reset(other.take());
        }
        return *this;
    }
    ~unique_win_object() { destroy(); }

    value_type get() const noexcept { return value_; }
    bool valid() const noexcept { return !Policy::is_empty(value_); }
    explicit operator bool() const noexcept { return valid(); }

    // Gives up ownership without closing; the caller now owns the value.
    [[nodiscard]] value_type release() noexcept { return take(); }

    // Closes the held value (when any) and takes `value`; the last error is kept.
    void reset(value_type value = Policy::empty()) noexcept
    {
        value_type old = std::exchange(value_, value);
        if (!Policy::is_empty(old)) {
            close_keeping_last_error(old);
        }
    }

    // Closes the held value and empties the owner. Returns the close function's result, 0 when
    // nothing was held. When the close succeeds the last error is kept; when it fails the last
    // error is the close function's, for the caller to report.
    BOOL close() noexcept
    {
        if (Policy::is_empty(value_)) {
            return FALSE;
        }
        DWORD saved = GetLastError();
        BOOL ok = Policy::close(take());
        if (ok) {
            SetLastError(saved);
        }
        return ok;
    }

    // The destructor's body: closes the held value when one is held, keeping the last error.
    void destroy() noexcept { reset(); }

private:
    value_type take() noexcept { return std::exchange(value_, Policy::empty()); }

    static void close_keeping_last_error(value_type v) noexcept
    {
        DWORD saved = GetLastError();
        Policy::close(v);
        SetLastError(saved);
    }

    value_type value_ = Policy::empty();
};

// A kernel handle (null when none): processes, threads, tokens, semaphores, mutexes, mappings.
using win_handle = unique_win_object<kernel_handle_policy>;
// An event handle; same policy, its own name for readers.
using win_event = unique_win_object<kernel_handle_policy>;
// A file, pipe or device handle (INVALID_HANDLE_VALUE or null when none).
using win_file_handle = unique_win_object<file_handle_policy>;
// A module loaded with LoadLibrary (null when none).
using win_module = unique_win_object<module_policy>;

// Waits for at most 10000 ms until any non-null handle of `handles` (the first 64 of them) is
// signalled. Returns WAIT_TIMEOUT or WAIT_FAILED as the system reports them (WAIT_FAILED also
// when no handle is given); otherwise the position in `handles` of the first entry equal to the
// signalled or abandoned handle.
std::uint32_t wait_any_handle(const std::vector<HANDLE>& handles);

}  // namespace vantor
