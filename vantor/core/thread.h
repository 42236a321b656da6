#pragma once
// The base of every thread the system starts, with the start-up retry and the process-wide
// thread bookkeeping.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "vantor/core/semaphore.h"

namespace vantor {

// A worker derives from thread and implements run, the thread body. The body must catch its own
// exceptions: nothing is caught around it, so an escaping one reaches the process's crash
// handling.
//
// Ownership: an auto-delete thread deletes itself after its body returns (its starter must not
// touch it after start). Any other thread object is destroyed by its owner; the destructor waits
// until the body has returned. A derived class whose body uses its own members must join in its
// own destructor, before those members are gone.
class thread {
public:
    thread(const thread&) = delete;
    thread& operator=(const thread&) = delete;
    virtual ~thread();

    // Starts the body on a new thread. priority: 1 highest, 2 lowest, anything else normal.
    // _beginthread is tried up to 11 times, with sleeps of 1, 2, 4, ..., 128, 100 and 100 ms
    // between the attempts. Throws internal error 856 when the thread was already started and
    // internal error 890 when every attempt failed. Every failure counts in the failed-start
    // counter and is logged on "thread startup".
    void start(std::int32_t priority = 0);

    // Waits until the body has returned (at once for a thread that was never started).
    void join();

    const std::string& name() const noexcept { return name_; }
    bool started() const noexcept { return started_; }

protected:
    // The name is the concatenation of the parts (empty without any).
    explicit thread(bool auto_delete, std::initializer_list<std::string_view> name_parts = {});

    virtual void run() = 0;

private:
    static void __cdecl trampoline(void* self);

    std::string name_;
    semaphore run_;  // held from the start until the body has returned
    bool auto_delete_;
    bool started_ = false;
    std::int32_t priority_ = 0;
};

// Creates the thread bookkeeping (run by the foundation start; also made on first use) and seeds
// the runtime library's random generator with the current time.
void thread_registry_init();

// Threads whose body is running (started and not yet ended), the most seen at once, and the
// failed starts counted in the process's counter (the host's when it offers one).
std::int32_t thread_live_count();
std::int32_t thread_max_live_count();
std::int32_t thread_failed_start_count();

// Whether a failed thread start ends the process through crash_now (when the host does not own
// crash handling). The feature-flag service installs a query for its "crash on thread creation
// failed" flag at start-up; without one the answer is no and the failure is raised.
using thread_start_crash_query = bool (*)();
void set_thread_start_crash_query(thread_start_crash_query query);

// Replaceable calls of thread::start, for driving its retries in tests; null restores the
// runtime library's _beginthread and Sleep.
using begin_thread_function = std::uintptr_t(__cdecl*)(void(__cdecl* entry)(void*), unsigned stack_size,
                                                       void* argument);
using sleep_function = void (*)(std::uint32_t milliseconds);
void set_begin_thread_for_testing(begin_thread_function f);
void set_sleep_for_testing(sleep_function f);

}  // namespace vantor
