#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <limits>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "vantor/core/exception.h"
#include "vantor/core/host_hooks.h"
#include "vantor/core/log.h"
#include "vantor/core/semaphore.h"
#include "vantor/core/thread.h"
#include "vantor/core/thread_pool.h"
#include "vantor/core/win_api.h"

namespace {

using vantor::refc_obj;
using vantor::thread_pool;

// Polls a condition until it holds or the time runs out; the pool offers no event for a worker
// going idle or ending.
bool eventually(const std::function<bool()>& condition, std::int64_t timeout_ms = 10000)
{
    ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(timeout_ms);
    while (!condition()) {
        if (GetTickCount64() > end) {
            return false;
        }
        Sleep(5);
    }
    return true;
}

// Jobs built from std::function for the tests; each records its tag when it runs.
struct probe {
    std::mutex lock;
    std::vector<int> order;
    vantor::semaphore done{0x7fffffff, 0};

    struct item {
        probe* owner;
        int tag;
        std::function<void()> body;
    };

    vantor::job make(int tag, std::function<void()> body = {})
    {
        return {&run, &release, new item{this, tag, std::move(body)}};
    }
    static void __cdecl run(void* p)
    {
        auto* it = static_cast<item*>(p);
        if (it->body) {
            it->body();
        }
        std::lock_guard<std::mutex> guard(it->owner->lock);
        it->owner->order.push_back(it->tag);
    }
    static void __cdecl release(void* p)
    {
        auto* it = static_cast<item*>(p);
        it->owner->done.release();
        delete it;
    }
    bool wait_done(int count)
    {
        for (int i = 0; i < count; ++i) {
            if (!done.wait_ms(10000)) {
                return false;
            }
        }
        return true;
    }
    std::vector<int> taken_order()
    {
        std::lock_guard<std::mutex> guard(lock);
        return order;
    }
};

TEST(thread_pool, limits_are_raised_to_their_minimum)
{
    struct row {
        std::int32_t maximum;
        std::int64_t idle;
        std::int32_t want_maximum;
        std::int64_t want_idle;
    };
    for (row r : {row{0, 0, 1, 2000}, row{-5, -1, 1, 2000}, row{1, 1999, 1, 2000}, row{7, 2000, 7, 2000},
                  row{3, 3000, 3, 3000}}) {
        SCOPED_TRACE(r.maximum);
        refc_obj<thread_pool> pool = thread_pool::create(r.maximum, r.idle);
        EXPECT_EQ(pool->maximum(), r.want_maximum);
        EXPECT_EQ(pool->idle_timeout_ms(), r.want_idle);
    }
    vantor::thread_pool& local = vantor::local_timer_pool();
    EXPECT_EQ(&local, &vantor::local_timer_pool());
    EXPECT_EQ(local.maximum(), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(local.idle_timeout_ms(), 5000);
}

// With one worker, jobs posted while it is busy wait in the queue and run in posting order;
// afterwards the worker waits idle instead of ending.
TEST(thread_pool, single_worker_queues_jobs_and_runs_them_in_order)
{
    refc_obj<thread_pool> pool = thread_pool::create(1, 5000);
    probe p;
    vantor::semaphore gate(1, 0);
    pool->post(p.make(1, [&] { gate.wait(); }));
    pool->post(p.make(2));
    pool->post(p.make(3));
    thread_pool::counts c = pool->counts_for_testing();
    EXPECT_EQ(c.live, 1);
    EXPECT_EQ(c.queued, 2u);
    gate.release();
    ASSERT_TRUE(p.wait_done(3));
    EXPECT_EQ(p.taken_order(), (std::vector<int>{1, 2, 3}));
    ASSERT_TRUE(eventually([&] { return pool->counts_for_testing().idle == 1; }));
    c = pool->counts_for_testing();
    EXPECT_EQ(c.live, 1);
    EXPECT_EQ(c.queued, 0u);
}

// Workers start one per post up to the maximum, then jobs queue; idle workers are reused.
TEST(thread_pool, grows_to_the_maximum_then_queues_and_reuses_idle_workers)
{
    refc_obj<thread_pool> pool = thread_pool::create(3, 5000);
    probe p;
    vantor::semaphore gate(5, 0);
    vantor::semaphore started(5, 0);
    for (int i = 0; i < 5; ++i) {
        pool->post(p.make(i, [&] {
            started.release();
            gate.wait();
        }));
    }
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(started.wait_ms(10000));
    }
    thread_pool::counts c = pool->counts_for_testing();
    EXPECT_EQ(c.live, 3);
    EXPECT_EQ(c.queued, 2u);
    EXPECT_EQ(c.idle, 0u);
    for (int i = 0; i < 5; ++i) {
        gate.release();
    }
    ASSERT_TRUE(p.wait_done(5));
    ASSERT_TRUE(eventually([&] { return pool->counts_for_testing().idle == 3; }));

    // An idle worker takes the next job: no fourth thread.
    pool->post(p.make(10));
    ASSERT_TRUE(p.wait_done(1));
    EXPECT_EQ(pool->counts_for_testing().live, 3);
}

TEST(thread_pool, job_exceptions_do_not_end_the_worker)
{
    refc_obj<thread_pool> pool = thread_pool::create(1, 5000);
    probe p;
    pool->post(p.make(1, [] { throw std::runtime_error("job failed"); }));
    pool->post(p.make(2, [] { throw vantor::exception("job failed"); }));
    pool->post(p.make(3));
    ASSERT_TRUE(p.wait_done(3));
    EXPECT_EQ(p.taken_order(), (std::vector<int>{3}));
    ASSERT_TRUE(eventually([&] { return pool->counts_for_testing().idle == 1; }));
    EXPECT_EQ(pool->counts_for_testing().live, 1);
}

// A worker that waited the idle time-out without a job ends and gives back its reference to the
// pool; the next post starts a new worker.
TEST(thread_pool, idle_worker_ends_after_the_time_out_and_the_next_post_starts_another)
{
    refc_obj<thread_pool> pool = thread_pool::create(4, 0);  // raised to 2000 ms
    probe p;
    pool->post(p.make(1));
    ASSERT_TRUE(p.wait_done(1));
    EXPECT_EQ(pool->counts_for_testing().live, 1);
    EXPECT_EQ(pool->ref_count_for_testing(), 2);  // the owner and the worker
    ASSERT_TRUE(eventually([&] { return pool->counts_for_testing().live == 0; }));
    EXPECT_TRUE(eventually([&] { return pool->ref_count_for_testing() == 1; }));
    EXPECT_EQ(pool->counts_for_testing().idle, 0u);

    pool->post(p.make(2));
    ASSERT_TRUE(p.wait_done(1));
    EXPECT_EQ(pool->counts_for_testing().live, 1);
    EXPECT_EQ(p.taken_order(), (std::vector<int>{1, 2}));
}

// Posts a job into the gap between a worker's timed-out wait and its look at the pool, once.
struct late_post {
    static inline thread_pool* target = nullptr;
    static inline probe* jobs = nullptr;
    static inline std::atomic<bool> posted{false};

    static void hook(thread_pool* pool, bool woken)
    {
        if (pool == target && !woken && !posted.exchange(true)) {
            pool->post(jobs->make(2));
        }
    }
};

// A job that reaches a worker just after its wait timed out is not lost: the worker finds it
// under the lock and runs it, and then waits a full idle time-out again instead of ending at
// once on the left-over wake-up.
TEST(thread_pool, post_right_after_an_idle_time_out_is_run)
{
    refc_obj<thread_pool> pool = thread_pool::create(1, 2000);
    probe p;
    late_post::target = pool.get();
    late_post::jobs = &p;
    late_post::posted = false;
    thread_pool::set_idle_wait_hook_for_testing(&late_post::hook);
    pool->post(p.make(1));
    bool both_ran = p.wait_done(2);
    thread_pool::set_idle_wait_hook_for_testing(nullptr);
    ASSERT_TRUE(both_ran);
    EXPECT_EQ(p.taken_order(), (std::vector<int>{1, 2}));
    ASSERT_TRUE(eventually([&] { return pool->counts_for_testing().idle == 1; }));
    ULONGLONG idle_since = GetTickCount64();
    EXPECT_EQ(pool->counts_for_testing().live, 1);
    ASSERT_TRUE(eventually([&] { return pool->counts_for_testing().live == 0; }));
    EXPECT_GE(GetTickCount64() - idle_since, 1500u);
}

struct start_failure : ::testing::Test {
    static std::uintptr_t __cdecl failing_begin(void(__cdecl*)(void*), unsigned, void*)
    {
        return static_cast<std::uintptr_t>(-1);
    }
    static void observe(const char* text, std::size_t length, void*)
    {
        std::string line(text, length);
        if (line.rfind("thread_pool: ", 0) == 0) {
            lines.push_back(line);
        }
    }
    void SetUp() override
    {
        lines.clear();
        saved_counter_ = vantor::host().failed_thread_starts;
        vantor::host().failed_thread_starts = &failed_;
        vantor::set_sleep_for_testing([](std::uint32_t) {});
        vantor::set_begin_thread_for_testing(failing_begin);
        vantor::set_log_line_observer(observe, nullptr);
    }
    void TearDown() override
    {
        vantor::set_log_line_observer(nullptr, nullptr);
        vantor::set_begin_thread_for_testing(nullptr);
        vantor::set_sleep_for_testing(nullptr);
        vantor::host().failed_thread_starts = saved_counter_;
    }

    static inline std::vector<std::string> lines;
    std::int32_t failed_ = 0;
    std::int32_t* saved_counter_ = nullptr;
};

// When no worker can be started, post raises and leaves the job with the caller; the post
// function logs and releases the job unrun (the poster cannot learn of the failure). The pool
// stays usable once threads start again.
TEST_F(start_failure, post_raises_and_the_post_function_releases_the_job_unrun)
{
    refc_obj<thread_pool> pool = thread_pool::create(2, 5000);
    probe p;
    vantor::job j = p.make(1);
    try {
        pool->post(j);
        FAIL() << "no exception";
    } catch (const vantor::exception& e) {
        EXPECT_STREQ(e.what(), ":Error in line 890");
    }
    EXPECT_FALSE(p.done.wait_ms(0));  // not released: the caller still owns it

    pool->executor().post_job(j);
    EXPECT_TRUE(p.done.wait_ms(0));  // released at once, without running
    EXPECT_TRUE(p.taken_order().empty());
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "thread_pool: post failed, job released without running: :Error in line 890"}));
    EXPECT_EQ(failed_, 2);
    EXPECT_EQ(pool->counts_for_testing().live, 0);

    vantor::set_begin_thread_for_testing(nullptr);
    pool->post(p.make(2));
    ASSERT_TRUE(p.wait_done(1));
    EXPECT_EQ(p.taken_order(), (std::vector<int>{2}));
}

}  // namespace
