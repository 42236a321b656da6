#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "kova/encoder/decoder_pool.h"
#include "kova/encoder/thread_executor.h"
#include "kova/encoder/thread_executor_deprecated.h"
#include "kova/encoder/thread_executor_factory.h"
#include "vantor/core/clock.h"
#include "vantor/core/exception.h"
#include "vantor/core/log.h"
#include "vantor/core/refc_obj.h"
#include "vantor/core/semaphore.h"
#include "vantor/core/thread_pool.h"
#include "vantor/core/win_api.h"
#include "vantor/core/win_handle.h"

namespace {

constexpr std::int64_t patience_ms = 5000;

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

// Collects the process's log lines for the life of the object.
class log_capture {
public:
    log_capture() { vantor::set_log_line_observer(&observe, this); }
    ~log_capture() { vantor::set_log_line_observer(nullptr, nullptr); }

    int count(const std::string& line)
    {
        std::lock_guard<std::mutex> guard(lock_);
        int n = 0;
        for (const std::string& l : lines_) {
            n += l == line ? 1 : 0;
        }
        return n;
    }
    bool has_prefix(const std::string& prefix)
    {
        std::lock_guard<std::mutex> guard(lock_);
        for (const std::string& l : lines_) {
            if (l.compare(0, prefix.size(), prefix) == 0) {
                return true;
            }
        }
        return false;
    }
    bool arrives(const std::string& line, int times = 1)
    {
        return eventually([&] { return count(line) >= times; });
    }

private:
    static void observe(const char* text, std::size_t length, void* context)
    {
        auto* self = static_cast<log_capture*>(context);
        std::lock_guard<std::mutex> guard(self->lock_);
        self->lines_.emplace_back(text, length);
    }

    std::mutex lock_;
    std::vector<std::string> lines_;
};

// A posted call: runs `body`, then counts its release.
struct call {
    std::function<void()> body;
    std::atomic<int>* releases;

    static void __cdecl run(void* arg) { static_cast<call*>(arg)->body(); }
    static void __cdecl release(void* arg)
    {
        std::unique_ptr<call> owned(static_cast<call*>(arg));
        if (owned->releases != nullptr) {
            ++*owned->releases;
        }
    }
};

void post(const vantor::executor_handle& executor, std::function<void()> body, std::atomic<int>* releases = nullptr)
{
    auto c = std::make_unique<call>(call{std::move(body), releases});
    executor.post_job(&call::run, &call::release, c.release());
}

// Returns once every job posted to the executor before has run.
bool settle(const vantor::executor_handle& executor)
{
    auto reached = std::make_shared<vantor::semaphore>(1, 0);
    post(executor, [reached] { reached->release(); });
    return reached->wait_ms(patience_ms);
}

class test_native final : public kova::thread_executor::native {
public:
    static vantor::refc_obj<test_native> make(HANDLE h) { return vantor::refc_obj<test_native>(new test_native(h)); }

    HANDLE native_handle() override { return handle_; }
    void signalled() override
    {
        thread_ = GetCurrentThreadId();
        ++calls_;
    }

    int calls() const { return calls_.load(); }
    DWORD thread_id() const { return thread_.load(); }

private:
    explicit test_native(HANDLE h) : handle_(h) {}
    ~test_native() override = default;

    HANDLE handle_;
    std::atomic<int> calls_{0};
    std::atomic<DWORD> thread_{0};
};

vantor::win_event make_event(bool signalled)
{
    return vantor::win_event(CreateEventW(nullptr, TRUE, signalled ? TRUE : FALSE, nullptr));
}

const struct variant {
    const char* label;
    bool adapt_kova_lib_v3;
} variants[] = {{"thread executor", true}, {"deprecated executor", false}};

TEST(thread_executor, runs_jobs_in_posting_order_on_its_own_thread)
{
    for (const variant& v : variants) {
        SCOPED_TRACE(v.label);
        log_capture log;
        kova::encoder_executor executor(v.adapt_kova_lib_v3);
        const vantor::executor_handle h = executor.executor();

        std::mutex lock;
        std::vector<int> order;
        std::vector<DWORD> threads;
        std::atomic<int> releases{0};
        for (int i = 0; i < 50; ++i) {
            post(h,
                 [&, i] {
                     std::lock_guard<std::mutex> guard(lock);
                     order.push_back(i);
                     threads.push_back(GetCurrentThreadId());
                     if (i == 10) {
                         throw vantor::exception("boom");
                     }
                     if (i == 20) {
                         throw 5;
                     }
                 },
                 &releases);
        }
        ASSERT_TRUE(settle(h));
        std::lock_guard<std::mutex> guard(lock);
        ASSERT_EQ(order.size(), 50u);
        for (int i = 0; i < 50; ++i) {
            EXPECT_EQ(order[i], i);
            EXPECT_EQ(threads[i], threads[0]);
        }
        EXPECT_NE(threads[0], GetCurrentThreadId());
        EXPECT_EQ(releases.load(), 50);  // throwing jobs are released too
        EXPECT_EQ(log.count("kova_executor: exc: boom"), 1);
        EXPECT_EQ(log.count("kova_executor: exc: na"), 1);
    }
}

// Whether the thread's body returns within the patience. A thread that never returns keeps
// the helper blocked; that only happens in a failing test.
bool joins_in_time(vantor::thread& t)
{
    auto done = std::make_shared<vantor::semaphore>(1, 0);
    std::thread([&t, done] {
        t.join();
        done->release();
    }).detach();
    return done->wait_ms(patience_ms);
}

kova::thread_executor_deprecated& deprecated_thread(const vantor::executor_handle& h)
{
    return *static_cast<kova::thread_executor_deprecated*>(h.context);
}

TEST(thread_executor, stop_drains_the_queue_then_refuses_posts_and_ends)
{
    for (const variant& v : variants) {
        SCOPED_TRACE(v.label);
        log_capture log;
        auto executor = std::make_unique<kova::encoder_executor>(v.adapt_kova_lib_v3);
        const vantor::executor_handle h = executor->executor();

        // The thread executor lets go of its natives when its thread ends.
        vantor::win_event event = make_event(false);
        auto native = test_native::make(event.get());
        if (v.adapt_kova_lib_v3) {
            executor->native_waiter()->add_native(native);
        }

        vantor::semaphore go(1, 0);
        vantor::semaphore blocked(1, 0);
        std::atomic<int> ran{0};
        std::atomic<int> releases{0};
        post(h, [&] {
            blocked.release();
            go.wait();
        });
        ASSERT_TRUE(blocked.wait_ms(patience_ms));
        for (int i = 0; i < 3; ++i) {
            post(h, [&] { ++ran; }, &releases);
        }
        executor.reset();  // stops the thread while it is busy with the first job

        // The thread still drains, so the handle still reaches it: a post is refused.
        bool refused_ran = false;
        post(h, [&] { refused_ran = true; }, &releases);
        EXPECT_EQ(log.count("kova_executor: not running any more"), 1);
        EXPECT_EQ(releases.load(), 1);  // released at once, without running
        EXPECT_FALSE(refused_ran);

        go.release();
        EXPECT_TRUE(eventually([&] { return releases.load() == 4; }));
        EXPECT_EQ(ran.load(), 3);
        EXPECT_FALSE(refused_ran);
        if (v.adapt_kova_lib_v3) {
            EXPECT_TRUE(eventually([&] { return native->ref_count_for_testing() == 1; }));
        } else {
            EXPECT_TRUE(joins_in_time(deprecated_thread(h)));
        }
        EXPECT_TRUE(log.arrives("kova_executor: exiting"));
    }
}

TEST(thread_executor, stop_right_after_the_start_ends_the_thread_cleanly)
{
    for (const variant& v : variants) {
        SCOPED_TRACE(v.label);
        log_capture log;
        constexpr int rounds = 20;
        for (int i = 0; i < rounds; ++i) {
            vantor::executor_handle h;
            EXPECT_NO_THROW({
                kova::encoder_executor executor(v.adapt_kova_lib_v3);
                h = executor.executor();
            });
            if (!v.adapt_kova_lib_v3) {
                EXPECT_TRUE(joins_in_time(deprecated_thread(h)));
            }
        }
        EXPECT_TRUE(log.arrives("kova_executor: exiting", rounds));
        EXPECT_FALSE(log.has_prefix("kova_executor: wake failed"));
    }
}

TEST(thread_executor, signalled_natives_and_jobs_are_served_in_turn)
{
    kova::encoder_executor executor(true);
    ASSERT_NE(executor.native_waiter(), nullptr);
    const vantor::executor_handle h = executor.executor();

    // Two handles that stay signalled: each wake must still let the other native and the job
    // queue have their turn.
    vantor::win_event first_event = make_event(true);
    vantor::win_event second_event = make_event(true);
    auto first = test_native::make(first_event.get());
    auto second = test_native::make(second_event.get());
    executor.native_waiter()->add_native(first);
    executor.native_waiter()->add_native(second);

    // A chain of jobs in which each job posts the next one.
    constexpr int chain_length = 200;
    vantor::semaphore chain_done(1, 0);
    std::atomic<int> chain{0};
    std::function<void()> link = [&] {
        if (++chain == chain_length) {
            chain_done.release();
        } else {
            post(h, link);
        }
    };
    post(h, link);

    ASSERT_TRUE(chain_done.wait_ms(patience_ms));
    EXPECT_TRUE(eventually([&] { return first->calls() >= 100 && second->calls() >= 100; }))
        << first->calls() << " " << second->calls();

    executor.native_waiter()->remove_native(first);
    executor.native_waiter()->remove_native(second);
    ASSERT_TRUE(settle(h));
    EXPECT_EQ(first->thread_id(), second->thread_id());
    EXPECT_NE(first->thread_id(), GetCurrentThreadId());
    EXPECT_EQ(first->ref_count_for_testing(), 1);  // the executor let go of both
    EXPECT_EQ(second->ref_count_for_testing(), 1);
}

TEST(thread_executor, natives_without_a_handle_or_with_a_taken_handle_are_refused)
{
    log_capture log;
    kova::encoder_executor executor(true);
    const vantor::executor_handle h = executor.executor();
    kova::thread_executor* waiter = executor.native_waiter();

    vantor::win_event event = make_event(false);
    auto owner = test_native::make(event.get());
    auto same_handle = test_native::make(event.get());
    auto no_handle = test_native::make(nullptr);
    waiter->add_native(owner);
    waiter->add_native(owner);  // already registered: nothing happens
    waiter->add_native(same_handle);
    waiter->add_native(no_handle);
    waiter->add_native({});
    ASSERT_TRUE(settle(h));
    EXPECT_EQ(log.count("kova_executor: duplicate native object"), 1);
    EXPECT_EQ(log.count("kova_executor: invalid native object"), 1);
    EXPECT_EQ(owner->ref_count_for_testing(), 2);
    EXPECT_EQ(same_handle->ref_count_for_testing(), 1);
    EXPECT_EQ(no_handle->ref_count_for_testing(), 1);

    SetEvent(event.get());
    EXPECT_TRUE(eventually([&] { return owner->calls() > 0; }));
    ResetEvent(event.get());
    waiter->remove_native(owner);
    ASSERT_TRUE(settle(h));
    EXPECT_EQ(same_handle->calls(), 0);
    EXPECT_EQ(owner->ref_count_for_testing(), 1);
}

TEST(thread_executor, wait_on_a_closed_native_handle_drops_the_native_and_keeps_serving)
{
    log_capture log;
    kova::encoder_executor executor(true);
    const vantor::executor_handle h = executor.executor();

    // The native's handle is closed while it is still registered, as a native that closes its
    // handle before its removal has been processed does.
    HANDLE doomed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(doomed, nullptr);
    auto native = test_native::make(doomed);
    vantor::win_event healthy_event = make_event(false);
    auto healthy = test_native::make(healthy_event.get());
    executor.native_waiter()->add_native(native);
    executor.native_waiter()->add_native(healthy);
    // Every object the rest of the test waits with exists before the handle is closed, so that
    // no new handle takes over the closed handle's value.
    auto reached = std::make_shared<vantor::semaphore>(1, 0);
    auto reached_again = std::make_shared<vantor::semaphore>(1, 0);
    ASSERT_TRUE(settle(h));
    ASSERT_EQ(native->ref_count_for_testing(), 2);
    CloseHandle(doomed);

    post(h, [reached] { reached->release(); });
    ASSERT_TRUE(reached->wait_ms(patience_ms));
    ASSERT_TRUE(log.arrives("kova_executor: dropping native object"));
    EXPECT_TRUE(log.has_prefix("kova_executor: wait failed: "));
    EXPECT_TRUE(eventually([&] { return native->ref_count_for_testing() == 1; }));

    // The executor still runs jobs and still serves the native whose handle is sound.
    post(h, [reached_again] { reached_again->release(); });
    EXPECT_TRUE(reached_again->wait_ms(patience_ms));
    SetEvent(healthy_event.get());
    EXPECT_TRUE(eventually([&] { return healthy->calls() > 0; }));
    ResetEvent(healthy_event.get());
    executor.native_waiter()->remove_native(healthy);
    ASSERT_TRUE(settle(h));
    EXPECT_EQ(healthy->ref_count_for_testing(), 1);
}

TEST(decoder_pool, shared_executor_is_one_pool_sized_to_the_processors)
{
    const vantor::executor_handle a = kova::shared_executor();
    const vantor::executor_handle b = kova::shared_executor();
    EXPECT_EQ(a, b);

    SYSTEM_INFO info;
    GetSystemInfo(&info);
    auto* pool = static_cast<vantor::thread_pool*>(a.context);
    EXPECT_EQ(pool->maximum(), static_cast<std::int32_t>(info.dwNumberOfProcessors));
    EXPECT_EQ(pool->idle_timeout_ms(), 3000);

    std::atomic<DWORD> thread_id{0};
    vantor::semaphore done(1, 0);
    post(a, [&] {
        thread_id = GetCurrentThreadId();
        done.release();
    });
    ASSERT_TRUE(done.wait_ms(patience_ms));
    EXPECT_NE(thread_id.load(), GetCurrentThreadId());
}

}  // namespace
