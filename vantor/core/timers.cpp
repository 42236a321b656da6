#include "vantor/core/timers.h"

#include <atomic>
#include <memory>
#include <new>
#include <string>

#include "vantor/core/clock.h"
#include "vantor/core/crash_now.h"
#include "vantor/core/exception.h"
#include "vantor/core/host_hooks.h"
#include "vantor/core/locks.h"
#include "vantor/core/log.h"
#include "vantor/core/map.h"
#include "vantor/core/semaphore.h"
#include "vantor/core/thread.h"
#include "vantor/core/vector.h"

namespace vantor::timers {
namespace {

constexpr log_context timers_log{"timers"};

constexpr std::int64_t twenty_minutes_ms = 1200000;

struct timer_entry {
    std::int64_t value = 0;  // due time (once) or interval (repeating kinds)
    std::int32_t kind = 0;
    executor_handle executor;  // null post function: runs on the timer thread
    job work;
    bool running = false;
    bool cancel_requested = false;
    std::int64_t due = 0;
};

struct timer_table {
    lasting_critical_section lock;
    timer_id counter = 0;
    vantor_stl::map<timer_id, timer_entry> entries;
    vantor_stl::map<std::int64_t, vantor_stl::set<timer_id>> due;
    // Released whenever the earliest due time may have changed; wakes the timer thread.
    semaphore wake{0x7fffffff, 0};
    bool thread_running = false;
    std::int64_t threads_started = 0;
};

// Holds a T that is built on first use and never destroyed: timers may still run on other
// threads while the process ends.
template <typename T>
class lasting {
public:
    lasting() { ::new (static_cast<void*>(storage_)) T(); }
    T& get() noexcept { return *std::launder(reinterpret_cast<T*>(storage_)); }

private:
    alignas(T) unsigned char storage_[sizeof(T)];
};

timer_table& table()
{
    static lasting<timer_table> t;
    return t.get();
}

std::atomic<crash_query> unkept_release_query{nullptr};

void __cdecl crash_on_release(void*)
{
    crash_now();
}

bool valid_kind(timer_kind kind)
{
    return kind == timer_kind::once || kind == timer_kind::repeating || kind == timer_kind::repeating_now;
}

void call_release(job_fn release, void* arg) noexcept
{
    if (release == nullptr) {
        return;
    }
    try {
        release(arg);
    } catch (...) {
        // A release must not stop the timer thread or the executor that ran the timer.
    }
}

void thread_loop();

class timer_thread final : public thread {
public:
    timer_thread() : thread(true, {"timers"}) {}

protected:
    void run() override
    {
        try {
            thread_loop();
        } catch (const exception& e) {
            stopped(e.what());
        } catch (...) {
            stopped("na");
        }
    }

private:
    // The thread ends without emptying the table; the next filed timer starts a new one.
    static void stopped(const char* reason)
    {
        timers_log.log(VANTOR_FMT("timer thread failed: %1%"), reason);
        timer_table& t = table();
        cs_lock guard(t.lock.get());
        t.thread_running = false;
    }
};

// Files `id` under `due` and starts the timer thread when none runs. Under the timer lock.
// Throws when the thread cannot be started; nothing is filed then.
void enqueue_due(timer_table& t, std::int64_t due, timer_id id)
{
    vantor_stl::set<timer_id>& group = t.due[due];
    if (!t.thread_running) {
        auto starting = std::make_unique<timer_thread>();
        try {
            starting->start(0);
        } catch (...) {
            if (group.empty()) {
                t.due.erase(due);
            }
            throw;
        }
        // The started thread owns itself from here and deletes itself when it ends; it waits for
        // the timer lock before it reads the table.
        static_cast<void>(starting.release());
        t.thread_running = true;
        ++t.threads_started;
    }
    group.insert(id);
}

// Runs a due timer, then re-arms it or ends it.
void run_due(const job& work, timer_id id)
{
    try {
        if (work.run != nullptr) {
            work.run(work.arg);
        }
    } catch (...) {
        // The timer is re-armed or released as if the run had succeeded.
    }
    timer_table& t = table();
    job_fn release = nullptr;
    void* arg = nullptr;
    std::string rearm_error;
    {
        cs_lock guard(t.lock.get());
        auto it = t.entries.find(id);
        if (it == t.entries.end()) {
            return;
        }
        timer_entry& e = it->second;
        bool rearmed = false;
        if (!e.cancel_requested && e.kind != static_cast<std::int32_t>(timer_kind::once)) {
            e.running = false;
            e.due = monotonic_ms() + e.value;
            try {
                enqueue_due(t, e.due, id);
                rearmed = true;
            } catch (const exception& error) {
                rearm_error = error.what();
            } catch (...) {
                rearm_error = "na";
            }
        }
        if (!rearmed) {
            release = e.work.release;
            arg = e.work.arg;
            t.entries.erase(it);
        }
    }
    if (!rearm_error.empty()) {
        // The timer ends as if it had been cancelled: its job is released below.
        timers_log.log(VANTOR_FMT("cannot re-arm timer %1%: %2%"), id, rearm_error);
    }
    call_release(release, arg);
}

// Removes a timer whose job will not run again and releases its job.
void end_timer(timer_id id)
{
    timer_table& t = table();
    job_fn release = nullptr;
    void* arg = nullptr;
    {
        cs_lock guard(t.lock.get());
        auto it = t.entries.find(id);
        if (it == t.entries.end()) {
            return;
        }
        release = it->second.work.release;
        arg = it->second.work.arg;
        t.entries.erase(it);
    }
    call_release(release, arg);
}

// The job that runs a due timer on its executor: {id; the timer's job; whether it ran}.
struct posted_timer {
    timer_id id;
    job work;
    bool ran = false;
};

void __cdecl run_posted_timer(void* arg)
{
    auto* p = static_cast<posted_timer*>(arg);
    p->ran = true;
    run_due(p->work, p->id);
    // A re-armed timer may now be the earliest one.
    table().wake.release();
}

void __cdecl free_posted_timer(void* arg)
{
    std::unique_ptr<posted_timer> owned(static_cast<posted_timer*>(arg));
    if (!owned->ran) {
        // The executor gave the job back unrun (it is stopping or could not take it). The timer
        // would otherwise stay marked running for ever with its job never released.
        end_timer(owned->id);
    }
}

struct collected_timer {
    timer_id id;
    executor_handle executor;
    job work;
};

void hand_out(const collected_timer& c)
{
    if (!c.executor) {
        run_due(c.work, c.id);
        return;
    }
    auto record = std::make_unique<posted_timer>(posted_timer{c.id, c.work, false});
    try {
        c.executor.post_job(&run_posted_timer, &free_posted_timer, record.get());
    } catch (...) {
        // Post functions swallow their failures; one that does not would leave the timer marked
        // running for ever, so the timer ends here as if it had been cancelled.
        timers_log.log(VANTOR_FMT("cannot post timer %1%"), c.id);
        end_timer(c.id);
        return;
    }
    static_cast<void>(record.release());
}

void thread_loop()
{
    timer_table& t = table();
    vantor_stl::vector<collected_timer> ready;
    for (;;) {
        ready.clear();
        std::int64_t wait = 0;
        {
            cs_lock guard(t.lock.get());
            if (t.due.empty()) {
                t.thread_running = false;
                return;
            }
            std::int64_t now = monotonic_ms();
            auto earliest = t.due.begin();
            if (earliest->first > now) {
                wait = earliest->first - now;
            } else {
                for (timer_id id : earliest->second) {
                    auto it = t.entries.find(id);
                    if (it != t.entries.end()) {
                        it->second.running = true;
                        ready.push_back(collected_timer{id, it->second.executor, it->second.work});
                    }
                }
                t.due.erase(earliest);
            }
        }
        if (ready.empty()) {
            t.wake.wait_ms(wait);
            continue;
        }
        for (const collected_timer& c : ready) {
            hand_out(c);
        }
    }
}

void local_schedule(timer_id* id_out, timer_kind kind, std::int64_t value, executor_handle executor, job j)
{
    // Asked before taking the lock: the answer comes from the flag service.
    crash_query query = unkept_release_query.load();
    bool guard_release = kind != timer_kind::once && id_out == nullptr && query != nullptr && query();
    std::int64_t due = 0;
    if (kind == timer_kind::once) {
        due = value;
    } else if (kind == timer_kind::repeating) {
        due = monotonic_ms() + value;
    }

    timer_table& t = table();
    cs_lock guard(t.lock.get());
    timer_id id = t.counter + 1;
    timer_entry entry;
    entry.value = value;
    entry.kind = static_cast<std::int32_t>(kind);
    entry.executor = executor;
    entry.work = j;
    if (guard_release) {
        entry.work.release = &crash_on_release;
    }
    entry.due = due;
    t.entries.insert({id, entry});
    try {
        enqueue_due(t, due, id);
    } catch (...) {
        t.entries.erase(id);
        throw;
    }
    t.counter = id;
    if (id_out != nullptr) {
        *id_out = id;
    }
    t.wake.release();
}

std::int32_t local_cancel(timer_id id)
{
    if (id < 1) {
        return 0;
    }
    timer_table& t = table();
    job_fn release = nullptr;
    void* arg = nullptr;
    {
        cs_lock guard(t.lock.get());
        auto it = t.entries.find(id);
        if (it == t.entries.end()) {
            return 0;
        }
        timer_entry& e = it->second;
        if (e.running) {
            e.cancel_requested = true;
            return 1;
        }
        if (auto group = t.due.find(e.due); group != t.due.end()) {
            group->second.erase(id);
            if (group->second.empty()) {
                t.due.erase(group);
            }
        }
        release = e.work.release;
        arg = e.work.arg;
        t.entries.erase(it);
        t.wake.release();
    }
    call_release(release, arg);
    return 1;
}

}  // namespace

void init()
{
    table();
}

void schedule(timer_id* id_out, timer_kind kind, std::int64_t value, executor_handle executor, job j)
{
    // An unknown kind would never be filed, so its job would be neither run nor released.
    if (!valid_kind(kind)) {
        throw exception(format(VANTOR_FMT("unknown timer kind %1%"), static_cast<std::int32_t>(kind)));
    }
    const host_services& h = host();
    if (h.schedule_id != nullptr) {
        h.schedule_id(id_out, value, static_cast<std::int32_t>(kind), executor.post, executor.context, j.run,
                      j.release, j.arg);
        return;
    }
    if (h.schedule != nullptr) {
        timer_id id = h.schedule(value, static_cast<std::int32_t>(kind), executor.post, executor.context, j.run,
                                 j.release, j.arg);
        if (id_out != nullptr) {
            *id_out = id;
        }
        return;
    }
    local_schedule(id_out, kind, value, executor, j);
}

void schedule_once(timer_id* id_out, std::int64_t due, job j)
{
    const host_services& h = host();
    if (h.schedule_once_id != nullptr) {
        h.schedule_once_id(id_out, due, nullptr, nullptr, j.run, j.release, j.arg);
        return;
    }
    if (h.schedule_once != nullptr) {
        timer_id id = h.schedule_once(due, nullptr, nullptr, j.run, j.release, j.arg);
        if (id_out != nullptr) {
            *id_out = id;
        }
        return;
    }
    local_schedule(id_out, timer_kind::once, due, executor_handle{}, j);
}

void post_delayed(std::int64_t due, job j)
{
    schedule_once(nullptr, due, j);
}

void schedule_repeating_20min(executor_handle executor, job j)
{
    schedule(nullptr, timer_kind::repeating, twenty_minutes_ms, executor, j);
}

std::int32_t cancel(timer_id id)
{
    if (auto host_cancel = host().cancel_timer; host_cancel != nullptr) {
        return host_cancel(id);
    }
    return local_cancel(id);
}

void set_unkept_repeating_release_query(crash_query query)
{
    unkept_release_query.store(query);
}

bool thread_running_for_testing()
{
    timer_table& t = table();
    cs_lock guard(t.lock.get());
    return t.thread_running;
}

std::int64_t threads_started_for_testing()
{
    timer_table& t = table();
    cs_lock guard(t.lock.get());
    return t.threads_started;
}

std::size_t live_timers_for_testing()
{
    timer_table& t = table();
    cs_lock guard(t.lock.get());
    return t.entries.size();
}

}  // namespace vantor::timers
