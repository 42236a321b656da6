#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "vantor/core/clock.h"
#include "vantor/core/exception.h"
#include "vantor/core/host_hooks.h"
#include "vantor/core/job.h"
#include "vantor/core/semaphore.h"
#include "vantor/core/timer_fut.h"
#include "vantor/core/timers.h"
#include "vantor/core/win_api.h"

namespace {

using vantor::timer_kind;
using vantor::timers::timer_id;

constexpr std::int64_t patience_ms = 5000;

// Waits for a condition that another thread makes true, giving up after patience_ms.
bool eventually(const std::function<bool()>& condition)
{
    std::int64_t end = vantor::monotonic_ms() + patience_ms;
    while (!condition()) {
        if (vantor::monotonic_ms() > end) {
            return false;
        }
        Sleep(1);
    }
    return true;
}

// A timer job that records its runs and its release. `body` runs inside each run.
struct probe {
    std::atomic<int> runs{0};
    std::atomic<int> releases{0};
    std::atomic<DWORD> run_thread{0};
    vantor::semaphore ran{0x7fffffff, 0};
    vantor::semaphore released{0x7fffffff, 0};
    std::mutex lock;
    std::vector<std::int64_t> starts;
    std::vector<std::int64_t> ends;
    std::function<void()> body;

    vantor::job job() { return {&run, &release, this}; }

    static void __cdecl run(void* arg)
    {
        auto* p = static_cast<probe*>(arg);
        std::int64_t start = vantor::monotonic_ms();
        p->run_thread = GetCurrentThreadId();
        if (p->body) {
            p->body();
        }
        {
            std::lock_guard<std::mutex> guard(p->lock);
            p->starts.push_back(start);
            p->ends.push_back(vantor::monotonic_ms());
        }
        ++p->runs;
        p->ran.release();
    }
    static void __cdecl release(void* arg)
    {
        auto* p = static_cast<probe*>(arg);
        ++p->releases;
        p->released.release();
    }
};

// Holds posted jobs until the test runs them.
class manual_executor {
public:
    vantor::executor_handle handle() { return {&post, this}; }

    // The next posted job, or false when none arrives in time.
    bool next(vantor::job& out)
    {
        if (!posted_.wait_ms(patience_ms)) {
            return false;
        }
        std::lock_guard<std::mutex> guard(lock_);
        out = jobs_.front();
        jobs_.erase(jobs_.begin());
        return true;
    }

private:
    static void __cdecl post(void* context, vantor::job_fn run, vantor::job_fn release, void* arg)
    {
        auto* self = static_cast<manual_executor*>(context);
        {
            std::lock_guard<std::mutex> guard(self->lock_);
            self->jobs_.push_back({run, release, arg});
        }
        self->posted_.release();
    }

    std::mutex lock_;
    std::vector<vantor::job> jobs_;
    vantor::semaphore posted_{0x7fffffff, 0};
};

// Runs every test on the local timer service with the local clock, and checks that no test
// leaves a timer behind.
class timers_test : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved_ = vantor::host();
        clear_host_timers();
        ASSERT_EQ(vantor::timers::live_timers_for_testing(), 0u);
    }
    void TearDown() override
    {
        clear_host_timers();
        EXPECT_TRUE(eventually([] { return vantor::timers::live_timers_for_testing() == 0; }));
        vantor::host() = saved_;
    }

    static void clear_host_timers()
    {
        vantor::host_services& h = vantor::host();
        h.monotonic_ms = nullptr;
        h.schedule_once = nullptr;
        h.cancel_timer = nullptr;
        h.schedule = nullptr;
        h.schedule_once_id = nullptr;
        h.schedule_id = nullptr;
    }

private:
    vantor::host_services saved_;
};

TEST_F(timers_test, each_kind_first_runs_at_its_time)
{
    struct row {
        const char* label;
        timer_kind kind;
        std::int64_t delay;  // due time from now (once) or interval
        bool at_once;        // the first run comes without waiting for the delay
    };
    const row rows[] = {
        {"once, due in 30 ms", timer_kind::once, 30, false},
        {"once, due time already passed", timer_kind::once, -1000, true},
        {"repeating, first run one interval from now", timer_kind::repeating, 30, false},
        {"repeating at once, long interval", timer_kind::repeating_now, 600000, true},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.label);
        probe p;
        std::int64_t scheduled = vantor::monotonic_ms();
        std::int64_t value = r.kind == timer_kind::once ? scheduled + r.delay : r.delay;
        timer_id id = 0;
        vantor::timers::schedule(&id, r.kind, value, {}, p.job());
        EXPECT_GE(id, 1);
        ASSERT_TRUE(p.ran.wait_ms(patience_ms));
        EXPECT_NE(p.run_thread.load(), GetCurrentThreadId());
        if (!r.at_once) {
            EXPECT_GE(p.starts[0], scheduled + r.delay);
        }
        if (r.kind == timer_kind::once) {
            ASSERT_TRUE(p.released.wait_ms(patience_ms));
            EXPECT_EQ(vantor::timers::cancel(id), 0);  // finished
        } else {
            EXPECT_EQ(vantor::timers::cancel(id), 1);
            ASSERT_TRUE(p.released.wait_ms(patience_ms));
        }
        EXPECT_EQ(p.releases.load(), 1);
    }
}

TEST_F(timers_test, repeating_timer_counts_the_interval_from_the_end_of_each_run)
{
    constexpr std::int64_t interval = 20;
    probe p;
    // Each run takes longer than the interval; the runs must still not overlap or crowd.
    p.body = [] { Sleep(30); };
    timer_id id = 0;
    vantor::timers::schedule(&id, timer_kind::repeating_now, interval, {}, p.job());
    ASSERT_TRUE(p.ran.wait_ms(patience_ms));
    ASSERT_TRUE(p.ran.wait_ms(patience_ms));
    ASSERT_TRUE(p.ran.wait_ms(patience_ms));
    EXPECT_EQ(vantor::timers::cancel(id), 1);
    ASSERT_TRUE(p.released.wait_ms(patience_ms));
    std::lock_guard<std::mutex> guard(p.lock);
    for (std::size_t i = 1; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_GE(p.starts[i], p.ends[i - 1] + interval);
    }
    EXPECT_EQ(p.releases.load(), 1);
}

TEST_F(timers_test, cancel_during_a_run_lets_it_finish_and_releases_once)
{
    const timer_kind kinds[] = {timer_kind::once, timer_kind::repeating, timer_kind::repeating_now};
    for (timer_kind kind : kinds) {
        SCOPED_TRACE(static_cast<int>(kind));
        probe p;
        vantor::semaphore entered(1, 0);
        vantor::semaphore proceed(1, 0);
        p.body = [&] {
            entered.release();
            proceed.wait();
        };
        std::int64_t value = kind == timer_kind::once ? vantor::monotonic_ms() : 1;
        timer_id id = 0;
        vantor::timers::schedule(&id, kind, value, {}, p.job());
        ASSERT_TRUE(entered.wait_ms(patience_ms));

        EXPECT_EQ(vantor::timers::cancel(id), 1);
        EXPECT_EQ(p.releases.load(), 0);  // not while the job runs
        proceed.release();

        ASSERT_TRUE(p.released.wait_ms(patience_ms));
        EXPECT_EQ(p.runs.load(), 1);
        EXPECT_EQ(p.releases.load(), 1);
        EXPECT_EQ(vantor::timers::cancel(id), 0);
    }
}

TEST_F(timers_test, cancel_of_a_waiting_timer_releases_it_without_a_run)
{
    probe p;
    timer_id id = 0;
    vantor::timers::schedule_once(&id, vantor::monotonic_ms() + 600000, p.job());
    EXPECT_EQ(vantor::timers::live_timers_for_testing(), 1u);

    for (timer_id bad : {timer_id{0}, timer_id{-5}, id + 1000}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(vantor::timers::cancel(bad), 0);
    }
    EXPECT_EQ(p.releases.load(), 0);

    EXPECT_EQ(vantor::timers::cancel(id), 1);
    EXPECT_EQ(p.releases.load(), 1);  // released by the cancel itself
    EXPECT_EQ(p.runs.load(), 0);
    EXPECT_EQ(vantor::timers::cancel(id), 0);
    EXPECT_EQ(vantor::timers::live_timers_for_testing(), 0u);
}

TEST_F(timers_test, unknown_kind_is_refused_and_the_job_stays_with_the_caller)
{
    probe p;
    timer_id id = -1;
    try {
        vantor::timers::schedule(&id, static_cast<timer_kind>(3), 10, {}, p.job());
        ADD_FAILURE() << "an unknown kind was accepted";
    } catch (const vantor::exception& e) {
        EXPECT_STREQ(e.what(), "unknown timer kind 3");
    }
    EXPECT_EQ(id, -1);
    EXPECT_EQ(vantor::timers::live_timers_for_testing(), 0u);
    EXPECT_EQ(p.runs.load(), 0);
    EXPECT_EQ(p.releases.load(), 0);
}

TEST_F(timers_test, timers_with_an_executor_run_there_and_rearm_after_each_run)
{
    manual_executor executor;
    probe p;
    timer_id id = 0;
    vantor::timers::schedule(&id, timer_kind::repeating_now, 1, executor.handle(), p.job());

    vantor::job posted;
    ASSERT_TRUE(executor.next(posted));
    EXPECT_EQ(p.runs.load(), 0);  // nothing runs on the timer thread
    posted.execute();
    EXPECT_EQ(p.runs.load(), 1);
    EXPECT_EQ(p.run_thread.load(), GetCurrentThreadId());

    // Re-armed after the run: the next run is posted again. Cancelling it once it is handed to
    // the executor lets that run happen and then releases the timer.
    ASSERT_TRUE(executor.next(posted));
    EXPECT_EQ(vantor::timers::cancel(id), 1);
    EXPECT_EQ(p.releases.load(), 0);
    posted.execute();
    EXPECT_EQ(p.runs.load(), 2);
    EXPECT_EQ(p.releases.load(), 1);
}

TEST_F(timers_test, executor_that_gives_a_timer_back_unrun_ends_the_timer)
{
    manual_executor executor;
    probe p;
    vantor::timers::schedule(nullptr, timer_kind::repeating_now, 1, executor.handle(), p.job());
    vantor::job posted;
    ASSERT_TRUE(executor.next(posted));
    posted.run = nullptr;  // a stopping executor releases without running
    posted.execute();
    EXPECT_EQ(p.runs.load(), 0);
    EXPECT_EQ(p.releases.load(), 1);
    EXPECT_EQ(vantor::timers::live_timers_for_testing(), 0u);
}

TEST_F(timers_test, timers_due_together_run_in_id_order)
{
    std::mutex lock;
    std::vector<int> order;
    probe first;
    probe second;
    first.body = [&] {
        std::lock_guard<std::mutex> guard(lock);
        order.push_back(1);
    };
    second.body = [&] {
        std::lock_guard<std::mutex> guard(lock);
        order.push_back(2);
    };
    std::int64_t due = vantor::monotonic_ms() + 20;
    vantor::timers::schedule_once(nullptr, due, first.job());
    vantor::timers::schedule_once(nullptr, due, second.job());
    ASSERT_TRUE(second.released.wait_ms(patience_ms));
    ASSERT_TRUE(first.released.wait_ms(patience_ms));
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    EXPECT_EQ(first.run_thread.load(), second.run_thread.load());
}

TEST_F(timers_test, timer_thread_ends_with_the_last_timer_and_restarts_for_the_next)
{
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        // A thread left by an earlier timer ends on its own once nothing is due.
        ASSERT_TRUE(eventually([] { return !vantor::timers::thread_running_for_testing(); }));
        std::int64_t started = vantor::timers::threads_started_for_testing();
        probe p;
        vantor::timers::post_delayed(vantor::monotonic_ms(), p.job());
        EXPECT_EQ(vantor::timers::threads_started_for_testing(), started + 1);
        ASSERT_TRUE(p.released.wait_ms(patience_ms));
        EXPECT_TRUE(eventually([] { return !vantor::timers::thread_running_for_testing(); }));
    }
}

TEST_F(timers_test, timer_fut_completes_when_due_and_fails_when_cancelled)
{
    timer_id id = 0;
    vantor::fut<int> due = vantor::timer_fut(vantor::monotonic_ms() + 10, &id);
    EXPECT_GE(id, 1);
    EXPECT_EQ(due.wait_for(patience_ms), 1);

    vantor::fut<int> cancelled = vantor::timer_fut(vantor::monotonic_ms() + 600000, &id);
    EXPECT_TRUE(cancelled.is_pending());
    EXPECT_EQ(vantor::timers::cancel(id), 1);
    ASSERT_TRUE(cancelled.is_failed());
    try {
        cancelled.get();
        ADD_FAILURE() << "a cancelled timer future gave a value";
    } catch (const vantor::exception& e) {
        EXPECT_STREQ(e.what(), vantor::exception().what());
    }
}

// The host's timer entries, recorded by a test table.
struct host_call {
    std::string entry;
    std::int64_t value = 0;
    std::int32_t kind = -1;
    vantor::post_fn post = nullptr;
    void* context = nullptr;
    vantor::job work;
    bool id_out_given = false;
};
std::vector<host_call> host_calls;

std::int64_t __cdecl host_schedule_once(std::int64_t due, vantor::post_fn post, void* context, vantor::job_fn run,
                                        vantor::job_fn release, void* arg)
{
    host_calls.push_back({"once", due, 0, post, context, {run, release, arg}, false});
    return 41;
}
std::int32_t __cdecl host_cancel(std::int64_t id)
{
    host_call c;
    c.entry = "cancel";
    c.value = id;
    host_calls.push_back(c);
    return 7;
}
std::int64_t __cdecl host_schedule(std::int64_t value, std::int32_t kind, vantor::post_fn post, void* context,
                                   vantor::job_fn run, vantor::job_fn release, void* arg)
{
    host_calls.push_back({"schedule", value, kind, post, context, {run, release, arg}, false});
    return 42;
}
void __cdecl host_schedule_once_id(std::int64_t* id_out, std::int64_t due, vantor::post_fn post, void* context,
                                   vantor::job_fn run, vantor::job_fn release, void* arg)
{
    host_calls.push_back({"once_id", due, 0, post, context, {run, release, arg}, id_out != nullptr});
    if (id_out != nullptr) {
        *id_out = 43;
    }
}
void __cdecl host_schedule_id(std::int64_t* id_out, std::int64_t value, std::int32_t kind, vantor::post_fn post,
                              void* context, vantor::job_fn run, vantor::job_fn release, void* arg)
{
    host_calls.push_back({"schedule_id", value, kind, post, context, {run, release, arg}, id_out != nullptr});
    if (id_out != nullptr) {
        *id_out = 44;
    }
}

void __cdecl fake_post(void*, vantor::job_fn, vantor::job_fn, void*) {}

TEST_F(timers_test, host_timer_entries_take_over_the_local_service)
{
    int executor_context = 0;
    const vantor::executor_handle executor{&fake_post, &executor_context};
    probe p;
    const vantor::job j = p.job();
    auto expect_job = [&](const host_call& c) {
        EXPECT_EQ(c.work.run, j.run);
        EXPECT_EQ(c.work.release, j.release);
        EXPECT_EQ(c.work.arg, j.arg);
    };
    vantor::host_services& h = vantor::host();

    // Older tables: schedule (92), schedule once (28) and cancel (32) return the id.
    host_calls.clear();
    h.schedule = &host_schedule;
    h.schedule_once = &host_schedule_once;
    h.cancel_timer = &host_cancel;
    timer_id id = 0;
    vantor::timers::schedule(&id, timer_kind::repeating, 500, executor, j);
    EXPECT_EQ(id, 42);
    vantor::timers::schedule_once(&id, 1234, j);
    EXPECT_EQ(id, 41);
    EXPECT_EQ(vantor::timers::cancel(41), 7);
    EXPECT_THROW(vantor::timers::schedule(&id, static_cast<timer_kind>(-1), 1, executor, j), vantor::exception);
    ASSERT_EQ(host_calls.size(), 3u);
    EXPECT_EQ(host_calls[0].entry, "schedule");
    EXPECT_EQ(host_calls[0].value, 500);
    EXPECT_EQ(host_calls[0].kind, 1);
    EXPECT_EQ(host_calls[0].post, executor.post);
    EXPECT_EQ(host_calls[0].context, executor.context);
    expect_job(host_calls[0]);
    EXPECT_EQ(host_calls[1].entry, "once");
    EXPECT_EQ(host_calls[1].value, 1234);
    EXPECT_EQ(host_calls[1].post, nullptr);
    EXPECT_EQ(host_calls[1].context, nullptr);
    expect_job(host_calls[1]);
    EXPECT_EQ(host_calls[2].entry, "cancel");
    EXPECT_EQ(host_calls[2].value, 41);

    // Newer tables: the entries with id output (96, 100) come first.
    host_calls.clear();
    h.schedule_id = &host_schedule_id;
    h.schedule_once_id = &host_schedule_once_id;
    vantor::timers::schedule(&id, timer_kind::repeating_now, 60, executor, j);
    EXPECT_EQ(id, 44);
    vantor::timers::post_delayed(99, j);
    vantor::timers::schedule_repeating_20min(executor, j);
    ASSERT_EQ(host_calls.size(), 3u);
    EXPECT_EQ(host_calls[0].entry, "schedule_id");
    EXPECT_EQ(host_calls[0].kind, 2);
    EXPECT_EQ(host_calls[0].value, 60);
    EXPECT_TRUE(host_calls[0].id_out_given);
    expect_job(host_calls[0]);
    EXPECT_EQ(host_calls[1].entry, "once_id");
    EXPECT_EQ(host_calls[1].value, 99);
    EXPECT_EQ(host_calls[1].post, nullptr);
    expect_job(host_calls[1]);
    EXPECT_EQ(host_calls[2].entry, "schedule_id");
    EXPECT_EQ(host_calls[2].kind, 1);
    EXPECT_EQ(host_calls[2].value, 1200000);
    EXPECT_EQ(host_calls[2].post, executor.post);

    // The host owns those timers: nothing was filed locally, nothing ran or was released here.
    EXPECT_EQ(vantor::timers::live_timers_for_testing(), 0u);
    EXPECT_EQ(p.runs.load(), 0);
    EXPECT_EQ(p.releases.load(), 0);
}

}  // namespace
