#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "vantor/core/completion_port.h"
#include "vantor/core/default_executor.h"
#include "vantor/core/exception.h"
#include "vantor/core/host_hooks.h"
#include "vantor/core/inline_executor.h"
#include "vantor/core/log.h"
#include "vantor/core/manual_executor.h"
#include "vantor/core/semaphore.h"
#include "vantor/core/task_batch.h"
#include "vantor/core/thread_pool.h"

namespace {

using namespace std::chrono_literals;

// Records the order of runs and releases of simple jobs whose argument is their number.
struct journal {
    static inline std::vector<std::string> events;
    static inline std::thread::id run_thread;

    static void __cdecl run(void* arg)
    {
        run_thread = std::this_thread::get_id();
        events.push_back("run " + std::to_string(reinterpret_cast<std::intptr_t>(arg)));
    }
    static void __cdecl release(void* arg)
    {
        events.push_back("release " + std::to_string(reinterpret_cast<std::intptr_t>(arg)));
    }
    static vantor::job make(std::intptr_t n) { return {&run, &release, reinterpret_cast<void*>(n)}; }
};

struct fake_host {
    static inline int dummy_context = 0;
    static void __cdecl post(void*, vantor::job_fn, vantor::job_fn, void*) {}
    static void __cdecl offers(vantor::post_fn* post, void** context)
    {
        *post = &fake_host::post;
        *context = &dummy_context;
    }
    static void __cdecl offers_nothing(vantor::post_fn*, void**) {}
};

TEST(default_executor, is_the_hosts_when_offered_else_the_local_pool)
{
    auto saved = vantor::host().default_executor;
    struct row {
        const char* name;
        void(__cdecl* hook)(vantor::post_fn*, void**);
        vantor::executor_handle want;
    };
    vantor::executor_handle local{&vantor::thread_pool::post_job, &vantor::local_timer_pool()};
    for (row r : {row{"no host entry", nullptr, local},
                  row{"host executor", &fake_host::offers, {&fake_host::post, &fake_host::dummy_context}},
                  row{"host fills in no post function", &fake_host::offers_nothing, local}}) {
        SCOPED_TRACE(r.name);
        vantor::host().default_executor = r.hook;
        EXPECT_TRUE(vantor::default_executor() == r.want);
    }
    vantor::host().default_executor = saved;
}

TEST(inline_executor, runs_then_releases_on_the_posting_thread_swallowing_exceptions)
{
    journal::events.clear();
    vantor::inline_executor.post_job(journal::make(7));
    EXPECT_EQ(journal::events, (std::vector<std::string>{"run 7", "release 7"}));
    EXPECT_EQ(journal::run_thread, std::this_thread::get_id());

    static int releases;
    releases = 0;
    vantor::run_job_inline(
        nullptr, [](void*) { throw std::runtime_error("run failed"); },
        [](void*) {
            ++releases;
            throw vantor::exception("release failed");
        },
        nullptr);
    EXPECT_EQ(releases, 1);
}

// Three posts before the owner waits wake it once: one run_pending runs all three, and a second
// one waits for the next post instead of returning on a stale wake-up.
TEST(task_batch, posts_before_the_wait_wake_the_owner_once)
{
    vantor::task_batch batch;
    journal::events.clear();
    vantor::executor_handle h = batch.executor();
    for (std::intptr_t n = 1; n <= 3; ++n) {
        h.post_job(journal::make(n));
    }
    bool empty = true;
    EXPECT_TRUE(batch.run_pending(&empty));
    EXPECT_FALSE(empty);
    EXPECT_EQ(journal::events,
              (std::vector<std::string>{"run 1", "release 1", "run 2", "release 2", "run 3", "release 3"}));

    auto second = std::async(std::launch::async, [&] { return batch.run_pending(nullptr); });
    EXPECT_EQ(second.wait_for(100ms), std::future_status::timeout);
    batch.post(journal::make(4));
    ASSERT_EQ(second.wait_for(10s), std::future_status::ready);
    EXPECT_TRUE(second.get());
    EXPECT_EQ(journal::events.back(), "release 4");
}

// close wakes a waiting owner and ends its loop; jobs posted afterwards never run.
TEST(task_batch, close_ends_the_owner_loop_and_later_posts_never_run)
{
    vantor::task_batch batch;
    journal::events.clear();
    std::atomic<int> loops_ended{0};
    auto owner = std::async(std::launch::async, [&] {
        batch.run_until_closed();
        ++loops_ended;
    });
    EXPECT_EQ(owner.wait_for(50ms), std::future_status::timeout);
    batch.close();
    ASSERT_EQ(owner.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(loops_ended, 1);

    batch.post(journal::make(1));
    EXPECT_FALSE(batch.run_pending(nullptr));
    EXPECT_TRUE(journal::events.empty());
}

TEST(manual_executor, runs_posted_jobs_only_when_asked_in_posting_order)
{
    vantor::manual_executor m;
    journal::events.clear();
    std::thread poster([&] {
        for (std::intptr_t n = 1; n <= 3; ++n) {
            m.executor().post_job(journal::make(n));
        }
    });
    poster.join();
    EXPECT_TRUE(journal::events.empty());
    EXPECT_EQ(m.run_ready(), 3u);
    EXPECT_EQ(journal::events,
              (std::vector<std::string>{"run 1", "release 1", "run 2", "release 2", "run 3", "release 3"}));
    EXPECT_EQ(journal::run_thread, std::this_thread::get_id());
    EXPECT_EQ(m.run_ready(), 0u);

    // A job posted by a job waits for the next call.
    static vantor::manual_executor* self = nullptr;
    self = &m;
    m.post({[](void*) { self->post(journal::make(9)); }, nullptr, nullptr});
    EXPECT_EQ(m.run_ready(), 1u);
    EXPECT_EQ(m.run_ready(), 1u);
    EXPECT_EQ(journal::events.back(), "release 9");
}

TEST(manual_executor, run_until_stopped_runs_arriving_jobs_until_stop)
{
    vantor::manual_executor m;
    journal::events.clear();
    m.post(journal::make(1));
    EXPECT_EQ(m.run_ready(), 1u);  // leaves a wake-up without jobs behind
    std::promise<void> second_ran;
    static std::promise<void>* signal = nullptr;
    signal = &second_ran;
    auto owner = std::async(std::launch::async, [&] { m.run_until_stopped(); });
    m.post({[](void*) { signal->set_value(); }, nullptr, nullptr});
    ASSERT_EQ(second_ran.get_future().wait_for(10s), std::future_status::ready);
    EXPECT_FALSE(m.stopped());
    m.stop();
    ASSERT_EQ(owner.wait_for(10s), std::future_status::ready);
    EXPECT_TRUE(m.stopped());
}

// post wakes one waiter; a packet posted with no waiter lets the next run return at once.
TEST(native_port, post_wakes_one_waiter_or_the_next_run)
{
    vantor::native_port port;
    ASSERT_NE(port.handle(), nullptr);
    port.post();
    port.run();  // returns at once on the queued packet

    vantor::semaphore woken(2, 0);
    auto waiter = [&] {
        port.run();
        woken.release();
    };
    auto first = std::async(std::launch::async, waiter);
    auto second = std::async(std::launch::async, waiter);
    EXPECT_FALSE(woken.wait_ms(50));
    port.post();
    ASSERT_TRUE(woken.wait_ms(10000));
    EXPECT_FALSE(woken.wait_ms(100));  // the other one still waits
    port.post();
    ASSERT_TRUE(woken.wait_ms(10000));
    ASSERT_EQ(first.wait_for(10s), std::future_status::ready);
    ASSERT_EQ(second.wait_for(10s), std::future_status::ready);
}

// A thread still waiting when the port is destroyed is woken instead of waiting for ever: it
// returns on the destructor's packet or, when the close comes first, raises the wait's error.
TEST(native_port, destruction_wakes_a_waiter)
{
    auto port = std::make_unique<vantor::native_port>();
    vantor::native_port* raw = port.get();
    auto waiter = std::async(std::launch::async, [raw]() -> std::string {
        try {
            raw->run();
            return "returned";
        } catch (const vantor::exception& e) {
            return e.what();
        }
    });
    ASSERT_EQ(waiter.wait_for(100ms), std::future_status::timeout);
    port.reset();
    ASSERT_EQ(waiter.wait_for(10s), std::future_status::ready);
    std::string outcome = waiter.get();
    EXPECT_TRUE(outcome == "returned" || outcome.find("GetQueuedCompletionStatus") != std::string::npos)
        << outcome;
}

TEST(native_port, without_a_port_run_raises_and_post_does_nothing)
{
    std::unique_ptr<vantor::native_port> port = vantor::native_port::without_port_for_testing();
    EXPECT_EQ(port->handle(), nullptr);
    port->post();
    try {
        port->run();
        FAIL() << "no exception";
    } catch (const vantor::exception& e) {
        EXPECT_STREQ(e.what(), "null IOCP handle");
    }
}

}  // namespace
