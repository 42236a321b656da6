#include <gtest/gtest.h>

#include <process.h>

#include <atomic>
#include <cerrno>
#include <functional>
#include <string>
#include <vector>

#include "vantor/core/exception.h"
#include "vantor/core/host_hooks.h"
#include "vantor/core/log.h"
#include "vantor/core/semaphore.h"
#include "vantor/core/thread.h"
#include "vantor/core/win_api.h"

namespace {

class probe_thread : public vantor::thread {
public:
    probe_thread(bool auto_delete, std::function<void()> body, std::atomic<bool>* deleted = nullptr)
        : vantor::thread(auto_delete, {"probe", ".", "1"}), body_(std::move(body)), deleted_(deleted)
    {
    }
    ~probe_thread() override
    {
        join();
        if (deleted_ != nullptr) {
            *deleted_ = true;
        }
    }

protected:
    void run() override { body_(); }

private:
    std::function<void()> body_;
    std::atomic<bool>* deleted_;
};

TEST(thread, join_waits_for_the_body)
{
    vantor::semaphore go(1, 0);
    std::atomic<bool> ran{false};
    probe_thread t(false, [&] {
        go.wait();
        ran = true;
    });
    EXPECT_EQ(t.name(), "probe.1");
    EXPECT_FALSE(t.started());
    t.join();  // never started: returns at once
    t.start();
    EXPECT_TRUE(t.started());
    go.release();
    t.join();
    EXPECT_TRUE(ran);
    t.join();  // a second join returns as well
}

TEST(thread, auto_delete_thread_is_deleted_before_the_live_count_drops)
{
    std::int32_t before = vantor::thread_live_count();
    std::atomic<bool> deleted{false};
    (new probe_thread(
         true, [] {}, &deleted))
        ->start();
    // Other threads of the process (pool workers, timer threads) come and go, so the count
    // alone cannot tell when this thread ended: wait for its deletion first.
    for (int i = 0; i < 10000 && !deleted; ++i) {
        Sleep(1);
    }
    EXPECT_TRUE(deleted);
    for (int i = 0; i < 10000 && vantor::thread_live_count() > before; ++i) {
        Sleep(1);
    }
    EXPECT_LE(vantor::thread_live_count(), before);
}

TEST(thread, counts_live_threads_and_their_maximum)
{
    // Threads of earlier tests (pool workers, timer threads) may end at any moment and change
    // the count; a round in which none did shows the two new threads exactly.
    bool exact = false;
    for (int round = 0; round < 20 && !exact; ++round) {
        vantor::semaphore go(2, 0);
        const std::int32_t before = vantor::thread_live_count();
        probe_thread a(false, [&] { go.wait(); });
        probe_thread b(false, [&] { go.wait(); });
        a.start();
        b.start();
        const std::int32_t during = vantor::thread_live_count();
        EXPECT_GE(vantor::thread_max_live_count(), during);
        exact = during == before + 2;
        go.release();
        go.release();
        a.join();
        b.join();
    }
    EXPECT_TRUE(exact);
}

TEST(thread, priority_is_applied_on_the_new_thread)
{
    struct row {
        std::int32_t priority;
        int expected;
    };
    for (row r : {row{1, THREAD_PRIORITY_HIGHEST}, row{2, THREAD_PRIORITY_LOWEST},
                  row{0, THREAD_PRIORITY_NORMAL}, row{7, THREAD_PRIORITY_NORMAL}}) {
        SCOPED_TRACE(r.priority);
        std::atomic<int> seen{-100};
        probe_thread t(false, [&] { seen = GetThreadPriority(GetCurrentThread()); });
        t.start(r.priority);
        t.join();
        EXPECT_EQ(seen, r.expected);
    }
}

// Drives thread::start through injected _beginthread failures and records its sleeps and log
// lines; failed starts go to a host counter owned by the fixture.
class thread_start : public ::testing::Test {
protected:
    static inline int failures_left = 0;
    static inline std::vector<std::uint32_t> sleeps;
    static inline std::vector<std::string> lines;

    static std::uintptr_t __cdecl flaky_begin(void(__cdecl* entry)(void*), unsigned stack, void* arg)
    {
        if (failures_left > 0) {
            --failures_left;
            errno = EAGAIN;
            return static_cast<std::uintptr_t>(-1);
        }
        return _beginthread(entry, stack, arg);
    }
    static void record_sleep(std::uint32_t ms) { sleeps.push_back(ms); }
    static void observe(const char* text, std::size_t length, void*)
    {
        std::string line(text, length);
        if (line.rfind("thread startup: ", 0) == 0) {
            lines.push_back(line);
        }
    }

    void SetUp() override
    {
        failures_left = 0;
        sleeps.clear();
        lines.clear();
        saved_counter_ = vantor::host().failed_thread_starts;
        vantor::host().failed_thread_starts = &failed_;
        vantor::set_begin_thread_for_testing(flaky_begin);
        vantor::set_sleep_for_testing(record_sleep);
        vantor::set_log_line_observer(observe, nullptr);
    }
    void TearDown() override
    {
        vantor::set_log_line_observer(nullptr, nullptr);
        vantor::set_sleep_for_testing(nullptr);
        vantor::set_begin_thread_for_testing(nullptr);
        vantor::host().failed_thread_starts = saved_counter_;
        vantor::set_thread_start_crash_query(nullptr);
    }

    static std::string failed_line()
    {
        return "thread startup: _beginthread failed: " + vantor::errno_text(EAGAIN);
    }

    std::int32_t failed_ = 5;
    std::int32_t* saved_counter_ = nullptr;
};

TEST_F(thread_start, retries_after_failures_with_growing_sleeps)
{
    failures_left = 3;
    std::atomic<bool> ran{false};
    probe_thread t(false, [&] { ran = true; });
    t.start();
    t.join();
    EXPECT_TRUE(ran);
    EXPECT_EQ(sleeps, (std::vector<std::uint32_t>{1, 2, 4}));
    EXPECT_EQ(lines, (std::vector<std::string>(3, failed_line())));
    EXPECT_EQ(failed_, 5);
}

TEST_F(thread_start, gives_up_after_eleven_attempts)
{
    failures_left = 1000;
    probe_thread t(false, [] {});
    try {
        t.start();
        FAIL() << "no exception";
    } catch (const vantor::exception& e) {
        EXPECT_STREQ(e.what(), ":Error in line 890");
    }
    EXPECT_FALSE(t.started());
    EXPECT_EQ(failures_left, 1000 - 11);
    EXPECT_EQ(sleeps, (std::vector<std::uint32_t>{1, 2, 4, 8, 16, 32, 64, 128, 100, 100}));
    std::vector<std::string> expected(11, failed_line());
    expected.push_back("thread startup: error count: 6");
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(failed_, 6);
    EXPECT_EQ(vantor::thread_failed_start_count(), 6);
}

TEST_F(thread_start, second_start_raises_856_and_counts_as_failed)
{
    vantor::semaphore go(1, 0);
    probe_thread t(false, [&] { go.wait(); });
    t.start();
    // The host owns crash handling, so even with the crash switch on the error is raised.
    int host_installer = 0;
    void* saved_installer = vantor::host().crash_handler_installer;
    vantor::host().crash_handler_installer = &host_installer;
    vantor::set_thread_start_crash_query([] { return true; });
    try {
        t.start();
        ADD_FAILURE() << "no exception";
    } catch (const vantor::exception& e) {
        EXPECT_STREQ(e.what(), ":Error in line 856");
    }
    vantor::host().crash_handler_installer = saved_installer;
    go.release();
    t.join();
    EXPECT_EQ(lines, (std::vector<std::string>{"thread startup: error count: 6"}));
    EXPECT_EQ(failed_, 6);
}

}  // namespace
