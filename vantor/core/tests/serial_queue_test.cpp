#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "vantor/core/default_executor.h"
#include "vantor/core/host_hooks.h"
#include "vantor/core/inline_executor.h"
#include "vantor/core/log.h"
#include "vantor/core/manual_executor.h"
#include "vantor/core/semaphore.h"
#include "vantor/core/serial_queue.h"
#include "vantor/core/thread.h"
#include "vantor/core/thread_pool.h"

namespace {

// Collects the lines of one log channel while it lives.
class log_capture {
public:
    explicit log_capture(std::string channel) : prefix_(std::move(channel) + ": ")
    {
        vantor::set_log_line_observer(&observe, this);
    }
    ~log_capture() { vantor::set_log_line_observer(nullptr, nullptr); }

    std::vector<std::string> lines;

private:
    static void observe(const char* text, std::size_t length, void* context)
    {
        auto* self = static_cast<log_capture*>(context);
        std::string line(text, length);
        if (line.rfind(self->prefix_, 0) == 0) {
            self->lines.push_back(line);
        }
    }

    std::string prefix_;
};

// A target executor that counts posts and, depending on its mode, queues the job for the test to
// run, throws, or gives the job back unrun.
struct test_target {
    enum class mode { accept, throw_on_post, release_unrun };

    vantor::manual_executor queued;
    std::atomic<int> posts{0};
    mode how = mode::accept;

    static void __cdecl post(void* context, vantor::job_fn run, vantor::job_fn release, void* arg)
    {
        auto* self = static_cast<test_target*>(context);
        ++self->posts;
        switch (self->how) {
            case mode::accept:
                self->queued.post(vantor::job{run, release, arg});
                break;
            case mode::throw_on_post:
                throw std::runtime_error("refused");
            case mode::release_unrun:
                release(arg);
                break;
        }
    }
    vantor::executor_handle handle() { return {&post, this}; }
};

// A job that appends its number to a list; the list is touched only from the queue's jobs.
struct recorded_job {
    std::vector<int>* order;
    int number;
    int* releases;

    static void __cdecl run(void* p)
    {
        auto* self = static_cast<recorded_job*>(p);
        self->order->push_back(self->number);
    }
    static void __cdecl release(void* p)
    {
        auto* self = static_cast<recorded_job*>(p);
        ++*self->releases;
        delete self;
    }
    static vantor::job make(std::vector<int>& order, int number, int& releases)
    {
        return {&run, &release, new recorded_job{&order, number, &releases}};
    }
};

TEST(serial_queue, two_posts_schedule_one_drain_that_runs_both_in_order)
{
    test_target target;
    vantor::serial_queue q(target.handle());
    std::vector<int> order;
    int releases = 0;
    q.post(recorded_job::make(order, 1, releases));
    q.post(recorded_job::make(order, 2, releases));
    EXPECT_EQ(target.posts, 1);
    EXPECT_TRUE(q.draining_for_testing());
    EXPECT_EQ(target.queued.run_ready(), 1u);
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    EXPECT_EQ(releases, 2);
    EXPECT_FALSE(q.draining_for_testing());

    // The next post on the idle queue schedules a new drain.
    q.post(recorded_job::make(order, 3, releases));
    EXPECT_EQ(target.posts, 2);
    target.queued.run_ready();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

struct reposting_job {
    vantor::serial_queue* queue;
    std::vector<int>* order;
    int releases = 0;
    int* depth;

    static void __cdecl run(void* p)
    {
        auto* self = static_cast<reposting_job*>(p);
        ++*self->depth;
        self->order->push_back(*self->depth);
        // Posted from inside a job of the same queue: must run after this one, not nested.
        self->queue->post(recorded_job::make(*self->order, 100 + *self->depth, self->releases));
        --*self->depth;
    }
    static void __cdecl release(void*) {}
};

// A job that posts to its own queue: the new job runs after the current one, in the same drain
// and, over the inline executor, not nested inside it.
TEST(serial_queue, job_posted_from_a_job_runs_after_it_within_the_same_drain)
{
    {
        SCOPED_TRACE("queued target");
        test_target target;
        vantor::serial_queue q(target.handle());
        std::vector<int> order;
        int depth = 0;
        reposting_job first{&q, &order, 0, &depth};
        q.post({&reposting_job::run, &reposting_job::release, &first});
        target.queued.run_ready();
        EXPECT_EQ(order, (std::vector<int>{1, 101}));
        EXPECT_EQ(target.posts, 1);
        EXPECT_EQ(first.releases, 1);
    }
    {
        SCOPED_TRACE("inline target");
        vantor::serial_queue q(vantor::inline_executor);
        std::vector<int> order;
        int depth = 0;
        reposting_job first{&q, &order, 0, &depth};
        // The poster drains the queue itself before post returns.
        q.post({&reposting_job::run, &reposting_job::release, &first});
        EXPECT_EQ(order, (std::vector<int>{1, 101}));
        EXPECT_EQ(first.releases, 1);
        EXPECT_FALSE(q.draining_for_testing());
    }
}

TEST(serial_queue, a_throwing_job_does_not_stop_the_drain)
{
    test_target target;
    vantor::serial_queue q(target.handle());
    std::vector<int> order;
    int releases = 0;
    static int thrower_releases = 0;
    thrower_releases = 0;
    q.post(recorded_job::make(order, 1, releases));
    q.post(
        {[](void*) { throw std::runtime_error("job failed"); }, [](void*) { ++thrower_releases; }, nullptr});
    q.post(recorded_job::make(order, 3, releases));
    target.queued.run_ready();
    EXPECT_EQ(order, (std::vector<int>{1, 3}));
    EXPECT_EQ(releases, 2);
    EXPECT_EQ(thrower_releases, 1);
}

// The scheduled drain holds the queue: jobs still run after the owner's holder is gone. The
// executor handle goes through a holder, which copies share.
TEST(serial_queue, scheduled_drain_keeps_the_queue_alive_after_the_owner_lets_go)
{
    test_target target;
    std::vector<int> order;
    int releases = 0;
    {
        vantor::serial_queue owner(target.handle());
        vantor::serial_queue copy = owner;
        vantor::executor_handle h = copy.executor();
        h.post_job(recorded_job::make(order, 1, releases));
        owner.post(recorded_job::make(order, 2, releases));
        EXPECT_EQ(target.posts, 1);
        EXPECT_TRUE(owner.target() == target.handle());
    }
    EXPECT_EQ(target.queued.run_ready(), 1u);
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    EXPECT_EQ(releases, 2);
}

// A target that cannot take the drain must not leave the queue stalled: the failure is logged
// with the number of waiting jobs, and the next post schedules a drain that runs them all.
TEST(serial_queue, recovers_when_the_target_refuses_the_drain)
{
    struct row {
        const char* name;
        test_target::mode how;
        const char* line;
    };
    for (row r : {row{"post throws", test_target::mode::throw_on_post,
                      "serial_queue: post of the drain failed: refused; 1 jobs wait for the next post"},
                  row{"released unrun", test_target::mode::release_unrun,
                      "serial_queue: drain released without running; 1 jobs wait for the next post"}}) {
        SCOPED_TRACE(r.name);
        test_target target;
        target.how = r.how;
        vantor::serial_queue q(target.handle());
        std::vector<int> order;
        int releases = 0;
        {
            log_capture log("serial_queue");
            q.post(recorded_job::make(order, 1, releases));
            EXPECT_EQ(log.lines, (std::vector<std::string>{r.line}));
        }
        EXPECT_FALSE(q.draining_for_testing());
        EXPECT_TRUE(order.empty());
        EXPECT_EQ(releases, 0);

        target.how = test_target::mode::accept;
        q.post(recorded_job::make(order, 2, releases));
        EXPECT_EQ(target.posts, 2);
        target.queued.run_ready();
        EXPECT_EQ(order, (std::vector<int>{1, 2}));
        EXPECT_EQ(releases, 2);
        EXPECT_FALSE(q.draining_for_testing());
    }
}

std::atomic<int> failing_begin_calls{0};

std::uintptr_t __cdecl failing_begin(void(__cdecl*)(void*), unsigned, void*)
{
    ++failing_begin_calls;
    return static_cast<std::uintptr_t>(-1);
}

// Over the thread pool: when the pool cannot start a worker for the drain, it gives the drain
// back unrun; the queue logs and runs the waiting job with the next post's drain.
TEST(serial_queue, recovers_when_the_pool_cannot_start_a_worker)
{
    std::int32_t failed_starts = 0;
    std::int32_t* saved_counter = vantor::host().failed_thread_starts;
    vantor::host().failed_thread_starts = &failed_starts;
    vantor::refc_obj<vantor::thread_pool> pool = vantor::thread_pool::create(1, 5000);
    vantor::serial_queue q(pool->executor());
    vantor::semaphore done(2, 0);
    static vantor::semaphore* done_signal = nullptr;
    done_signal = &done;
    vantor::job signal{[](void*) { done_signal->release(); }, nullptr, nullptr};
    {
        log_capture log("serial_queue");
        vantor::set_sleep_for_testing([](std::uint32_t) {});
        vantor::set_begin_thread_for_testing(failing_begin);
        q.post(signal);
        vantor::set_begin_thread_for_testing(nullptr);
        vantor::set_sleep_for_testing(nullptr);
        EXPECT_EQ(log.lines,
                  (std::vector<std::string>{
                      "serial_queue: drain released without running; 1 jobs wait for the next post"}));
    }
    vantor::host().failed_thread_starts = saved_counter;
    EXPECT_EQ(failed_starts, 1);
    EXPECT_FALSE(q.draining_for_testing());
    q.post(signal);
    EXPECT_TRUE(done.wait_ms(10000));
    EXPECT_TRUE(done.wait_ms(10000));
}

// Four threads post 2,500 numbered jobs each. Every poster's jobs must run in its order, no two
// jobs may overlap, and each job runs and is released exactly once.
struct ordering_probe {
    static constexpr int posters = 4;
    static constexpr int per_poster = 2500;

    struct item {
        ordering_probe* probe;
        int poster;
        int sequence;
    };

    std::vector<item> items;
    std::atomic<int> in_flight{0};
    std::atomic<int> overlaps{0};
    std::atomic<int> out_of_order{0};
    std::atomic<int> runs{0};
    std::atomic<int> releases{0};
    int last_seen[posters];
    vantor::semaphore all_released{1, 0};

    ordering_probe()
    {
        for (int& s : last_seen) {
            s = -1;
        }
        items.reserve(posters * per_poster);
        for (int p = 0; p < posters; ++p) {
            for (int s = 0; s < per_poster; ++s) {
                items.push_back({this, p, s});
            }
        }
    }

    static void __cdecl run(void* arg)
    {
        auto* it = static_cast<item*>(arg);
        ordering_probe& probe = *it->probe;
        if (probe.in_flight.fetch_add(1) != 0) {
            ++probe.overlaps;
        }
        // Plain (unsynchronised) state: safe only because the queue never overlaps its jobs.
        if (probe.last_seen[it->poster] + 1 != it->sequence) {
            ++probe.out_of_order;
        }
        probe.last_seen[it->poster] = it->sequence;
        ++probe.runs;
        probe.in_flight.fetch_sub(1);
    }
    static void __cdecl release(void* arg)
    {
        ordering_probe& probe = *static_cast<item*>(arg)->probe;
        if (probe.releases.fetch_add(1) + 1 == posters * per_poster) {
            probe.all_released.release();
        }
    }

    void post_all(vantor::executor_handle queue)
    {
        std::vector<std::thread> threads;
        for (int p = 0; p < posters; ++p) {
            threads.emplace_back([this, p, queue] {
                for (int s = 0; s < per_poster; ++s) {
                    queue.post_job(&run, &release, &items[static_cast<std::size_t>(p * per_poster + s)]);
                }
            });
        }
        for (std::thread& t : threads) {
            t.join();
        }
    }

    void check()
    {
        ASSERT_TRUE(all_released.wait_ms(60000));
        EXPECT_EQ(runs, posters * per_poster);
        EXPECT_EQ(releases, posters * per_poster);
        EXPECT_EQ(overlaps, 0);
        EXPECT_EQ(out_of_order, 0);
        for (int p = 0; p < posters; ++p) {
            EXPECT_EQ(last_seen[p], per_poster - 1) << "poster " << p;
        }
    }
};

// The executor the test's host table offers: a pool of its own, with every post counted.
struct fake_host_executor {
    static inline vantor::thread_pool* pool = nullptr;
    static inline std::atomic<int> posts{0};

    static void __cdecl post(void* context, vantor::job_fn run, vantor::job_fn release, void* arg)
    {
        ++posts;
        vantor::thread_pool::post_job(context, run, release, arg);
    }
    static void __cdecl hook(vantor::post_fn* post_out, void** context_out)
    {
        *post_out = &post;
        *context_out = pool;
    }
};

TEST(serial_queue, ten_thousand_jobs_from_four_threads_run_in_order_without_overlap)
{
    vantor::refc_obj<vantor::thread_pool> host_pool = vantor::thread_pool::create(3, 5000);
    fake_host_executor::pool = host_pool.get();
    struct row {
        const char* name;
        bool host_offers_executor;
    };
    for (row r : {row{"local thread pool", false}, row{"host executor", true}}) {
        SCOPED_TRACE(r.name);
        auto saved = vantor::host().default_executor;
        if (r.host_offers_executor) {
            vantor::host().default_executor = &fake_host_executor::hook;
        }
        fake_host_executor::posts = 0;
        vantor::serial_queue q(vantor::default_executor());
        vantor::host().default_executor = saved;

        if (r.host_offers_executor) {
            EXPECT_EQ(q.target().post, &fake_host_executor::post);
        } else {
            EXPECT_EQ(q.target().context, &vantor::local_timer_pool());
        }
        auto probe = std::make_unique<ordering_probe>();
        probe->post_all(q.executor());
        probe->check();
        EXPECT_EQ(fake_host_executor::posts > 0, r.host_offers_executor);
    }
}

}  // namespace
