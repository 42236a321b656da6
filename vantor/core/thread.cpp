#include "vantor/core/thread.h"

#include <process.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <type_traits>

#include "vantor/core/crash_now.h"
#include "vantor/core/exception.h"
#include "vantor/core/host_hooks.h"
#include "vantor/core/locks.h"
#include "vantor/core/log.h"
#include "vantor/core/random.h"

namespace vantor {
namespace {

constexpr log_context startup_log{"thread startup"};

// The last attempt of thread::start; attempts are numbered from 0.
constexpr int last_start_attempt = 10;

struct thread_registry {
    lasting_critical_section lock;  // guards starts, ends and the counters below
    std::int32_t live = 0;
    std::int32_t max_live = 0;
    std::int32_t local_failed_starts = 0;  // used when the host offers no counter
};

// Trivially destructible, so threads that end while the process exits still find it intact.
static_assert(std::is_trivially_destructible_v<thread_registry>);

thread_registry& registry()
{
    static thread_registry r;
    return r;
}

std::int32_t* failed_start_counter()
{
    if (std::int32_t* host_counter = host().failed_thread_starts; host_counter != nullptr) {
        return host_counter;
    }
    return &registry().local_failed_starts;
}

std::atomic<thread_start_crash_query> crash_query{nullptr};
std::atomic<begin_thread_function> begin_thread_override{nullptr};
std::atomic<sleep_function> sleep_override{nullptr};

std::uintptr_t begin_thread(void(__cdecl* entry)(void*), void* argument)
{
    if (begin_thread_function f = begin_thread_override.load(); f != nullptr) {
        return f(entry, 0, argument);
    }
    return _beginthread(entry, 0, argument);
}

void sleep_ms(std::uint32_t milliseconds)
{
    if (sleep_function f = sleep_override.load(); f != nullptr) {
        f(milliseconds);
    } else {
        Sleep(milliseconds);
    }
}

std::string join_parts(std::initializer_list<std::string_view> parts)
{
    std::string name;
    for (std::string_view p : parts) {
        name += p;
    }
    return name;
}

}  // namespace

thread::thread(bool auto_delete, std::initializer_list<std::string_view> name_parts)
    : name_(join_parts(name_parts)), run_(1, 1), auto_delete_(auto_delete)
{
}

thread::~thread()
{
    try {
        run_.wait();
    } catch (...) {
        // A failed wait leaves nothing to join; the handle is closed either way.
    }
}

void thread::start(std::int32_t priority)
{
    thread_registry& r = registry();
    try {
        cs_lock guard(r.lock.get());
        if (started_) {
            throw internal_error(856);
        }
        priority_ = priority;
        for (int attempt = 0;; ++attempt) {
            errno = 0;
            if (begin_thread(trampoline, this) != static_cast<std::uintptr_t>(-1)) {
                break;
            }
            startup_log.log(VANTOR_FMT("_beginthread failed: %1%"), errno_text(errno));
            if (attempt == last_start_attempt) {
                throw internal_error(890);
            }
            sleep_ms(attempt < 8 ? 1u << attempt : 100u);
        }
        ++r.live;
        if (r.live > r.max_live) {
            r.max_live = r.live;
        }
        started_ = true;
        // The new thread waits for the thread lock before it runs, so the semaphore is still free.
        run_.wait();
    } catch (...) {
        auto* counter = reinterpret_cast<volatile LONG*>(failed_start_counter());
        std::int32_t count = InterlockedIncrement(counter);
        startup_log.log(VANTOR_FMT("error count: %1%"), count);
        thread_start_crash_query query = crash_query.load();
        if (query != nullptr && query() && host().crash_handler_installer == nullptr) {
            crash_now();
        }
        throw;
    }
}

void thread::join()
{
    run_.wait();
    run_.release();
}

void __cdecl thread::trampoline(void* self_pointer)
{
    auto* self = static_cast<thread*>(self_pointer);
    seed_crt_rand();
    thread_registry& r = registry();
    {
        // Passing through the lock orders the starter's bookkeeping before the body.
        cs_lock pass(r.lock.get());
    }
    if (self->priority_ == 1) {
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
    } else if (self->priority_ == 2) {
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_LOWEST);
    }
    self->run();
    // After the release an owner may destroy the object at once, so the flag is read first and
    // the object is not touched afterwards unless this thread owns it.
    bool auto_delete = self->auto_delete_;
    self->run_.release();
    if (auto_delete) {
        delete self;
    }
    cs_lock guard(r.lock.get());
    --r.live;
}

void thread_registry_init()
{
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    registry();
}

std::int32_t thread_live_count()
{
    thread_registry& r = registry();
    cs_lock guard(r.lock.get());
    return r.live;
}

std::int32_t thread_max_live_count()
{
    thread_registry& r = registry();
    cs_lock guard(r.lock.get());
    return r.max_live;
}

std::int32_t thread_failed_start_count()
{
    return *static_cast<volatile std::int32_t*>(failed_start_counter());
}

void set_thread_start_crash_query(thread_start_crash_query query)
{
    crash_query.store(query);
}

void set_begin_thread_for_testing(begin_thread_function f)
{
    begin_thread_override.store(f);
}

void set_sleep_for_testing(sleep_function f)
{
    sleep_override.store(f);
}

}  // namespace vantor
