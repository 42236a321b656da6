#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "vantor/core/exception.h"
#include "vantor/core/fut.h"
#include "vantor/core/fut_abi_table.h"
#include "vantor/core/job.h"
#include "vantor/core/pcalltask.h"
#include "vantor/core/ptask_copy.h"
#include "vantor/core/refc_obj.h"
#include "vantor/core/win_api.h"

namespace {

// Runs posted jobs only when the test asks, on the test's thread.
class manual_executor {
public:
    vantor::executor_handle handle() { return {&post, this}; }

    std::size_t queued()
    {
        std::lock_guard<std::mutex> guard(lock_);
        return jobs_.size();
    }
    // Runs the queued jobs, and what they post, until none is left; returns how many ran.
    int run_all()
    {
        int ran = 0;
        for (;;) {
            vantor::job j;
            {
                std::lock_guard<std::mutex> guard(lock_);
                if (jobs_.empty()) {
                    return ran;
                }
                j = jobs_.front();
                jobs_.pop_front();
            }
            j.execute();
            ++ran;
        }
    }

private:
    static void __cdecl post(void* self, vantor::job_fn run, vantor::job_fn release, void* arg)
    {
        auto* me = static_cast<manual_executor*>(self);
        std::lock_guard<std::mutex> guard(me->lock_);
        me->jobs_.push_back({run, release, arg});
    }

    std::mutex lock_;
    std::deque<vantor::job> jobs_;
};

// One thread draining a queue; the destructor runs what is left and joins.
class thread_executor {
public:
    thread_executor() : worker_([this] { loop(); }) {}
    ~thread_executor()
    {
        {
            std::lock_guard<std::mutex> guard(lock_);
            stop_ = true;
        }
        wake_.notify_one();
        worker_.join();
    }

    vantor::executor_handle handle() { return {&post, this}; }
    DWORD thread_id() const { return thread_id_.load(); }

private:
    static void __cdecl post(void* self, vantor::job_fn run, vantor::job_fn release, void* arg)
    {
        auto* me = static_cast<thread_executor*>(self);
        {
            std::lock_guard<std::mutex> guard(me->lock_);
            me->jobs_.push_back({run, release, arg});
        }
        me->wake_.notify_one();
    }

    void loop()
    {
        thread_id_ = GetCurrentThreadId();
        std::unique_lock<std::mutex> guard(lock_);
        for (;;) {
            wake_.wait(guard, [this] { return stop_ || !jobs_.empty(); });
            if (jobs_.empty()) {
                return;
            }
            vantor::job j = jobs_.front();
            jobs_.pop_front();
            guard.unlock();
            j.execute();
            guard.lock();
        }
    }

    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<vantor::job> jobs_;
    bool stop_ = false;
    std::atomic<DWORD> thread_id_{0};
    std::thread worker_;
};

template <typename T>
std::string outcome(const vantor::fut<T>& f)
{
    try {
        if constexpr (std::is_same_v<T, std::string>) {
            return f.get();
        } else {
            return std::to_string(f.get());
        }
    } catch (const vantor::exception& e) {
        return std::string("!") + e.what();
    }
}

std::atomic<int> calls{0};

int add(int a, int b)
{
    ++calls;
    return a + b;
}
std::string join3(std::string a, const std::string& b, std::string& c)
{
    ++calls;
    return a + b + c;
}
void touch()
{
    ++calls;
}
int fail_with_exception()
{
    throw vantor::exception("bad input");
}
int fail_with_other()
{
    throw 42;
}
bool yes()
{
    return true;
}

TEST(ptask, call_without_future_arguments_runs_once_on_the_executor)
{
    manual_executor exe;
    calls = 0;
    vantor::fut<int> sum = vantor::post_call(exe.handle(), &add, 2, 3);
    vantor::fut<int> nothing = vantor::post_call(exe.handle(), &touch);
    vantor::fut<std::string> text =
        vantor::post_call(exe.handle(), &join3, std::string("a"), std::string("b"), std::string("c"));
    vantor::fut<int> thrown = vantor::post_call(exe.handle(), &fail_with_exception);
    vantor::fut<int> other = vantor::post_call(exe.handle(), &fail_with_other);
    vantor::fut<bool> flag = vantor::post_bool_call(exe.handle(), &yes);
    EXPECT_EQ(calls.load(), 0);
    EXPECT_EQ(outcome(sum), "!fut not set");
    EXPECT_EQ(exe.run_all(), 6);
    EXPECT_EQ(exe.run_all(), 0);
    EXPECT_EQ(calls.load(), 3);
    EXPECT_EQ(outcome(sum), "5");
    EXPECT_EQ(outcome(nothing), "1");
    EXPECT_EQ(outcome(text), "abc");
    EXPECT_EQ(outcome(thrown), "!bad input");
    EXPECT_EQ(outcome(other), "!:");
    EXPECT_TRUE(flag.get());
    // The tasks are gone: each future is held only here.
    EXPECT_EQ(sum.state()->ref_count_for_testing(), 1);
    EXPECT_EQ(thrown.state()->ref_count_for_testing(), 1);
}

TEST(ptask, future_arguments_hold_the_task_until_they_settle)
{
    manual_executor exe;
    calls = 0;
    {
        SCOPED_TRACE("already done");
        vantor::fut<int> a = vantor::fut<int>::make_ready(40);
        vantor::fut<int> r = vantor::post_call(exe.handle(), &add, a, 2);
        EXPECT_EQ(exe.queued(), 1u);
        exe.run_all();
        EXPECT_EQ(outcome(r), "42");
    }
    {
        SCOPED_TRACE("both pending");
        vantor::fut<int> a, b;
        vantor::fut<int> r = vantor::post_call(exe.handle(), &add, a, b);
        EXPECT_EQ(exe.queued(), 0u);
        EXPECT_EQ(a.state()->continuation_count_for_testing(), 1u);
        b.set_value(2);
        EXPECT_EQ(exe.queued(), 0u);
        a.set_value(1);
        EXPECT_EQ(exe.queued(), 1u);
        EXPECT_EQ(exe.run_all(), 1);
        EXPECT_EQ(outcome(r), "3");
    }
    {
        SCOPED_TRACE("the same future twice");
        vantor::fut<int> a;
        vantor::fut<int> r = vantor::post_call(exe.handle(), &add, a, a);
        EXPECT_EQ(a.state()->continuation_count_for_testing(), 1u);
        a.set_value(4);
        exe.run_all();
        EXPECT_EQ(outcome(r), "8");
    }
    EXPECT_EQ(calls.load(), 3);
}

TEST(ptask, a_failed_source_runs_the_task_at_once_and_releases_the_others)
{
    struct row {
        const char* name;
        bool fail_before_creation;
    };
    for (const row& r : {row{"fails while waiting", false}, row{"failed before creation", true}}) {
        SCOPED_TRACE(r.name);
        manual_executor exe;
        calls = 0;
        vantor::fut<int> pending, failing;
        if (r.fail_before_creation) {
            failing.set_exception(vantor::exception("source broke"));
        }
        vantor::fut<int> result = vantor::post_call(exe.handle(), &add, pending, failing);
        if (!r.fail_before_creation) {
            EXPECT_EQ(exe.queued(), 0u);
            failing.set_exception(vantor::exception("source broke"));
        }
        // The pending source no longer holds the task, which is posted at once.
        EXPECT_EQ(pending.state()->continuation_count_for_testing(), 0u);
        EXPECT_EQ(exe.queued(), 1u);
        exe.run_all();
        EXPECT_EQ(outcome(result), "!source broke");
        EXPECT_EQ(calls.load(), 0);
        // Settling the other source later changes nothing.
        EXPECT_TRUE(pending.set_value(1));
        EXPECT_EQ(exe.queued(), 0u);
        EXPECT_EQ(outcome(result), "!source broke");
        EXPECT_EQ(result.state()->ref_count_for_testing(), 1);
    }
}

TEST(ptask, the_first_failed_source_in_argument_order_wins)
{
    manual_executor exe;
    vantor::fut<int> first, second;
    vantor::fut<int> result = vantor::post_call(exe.handle(), &add, first, second);
    second.set_exception(vantor::exception("second"));
    first.set_exception(vantor::exception("first"));
    exe.run_all();
    EXPECT_EQ(outcome(result), "!first");
}

class counter_obj : public vantor::refc_obj_class {
public:
    counter_obj() { ++alive; }
    int add_to(int a, int b)
    {
        total_ += a + b;
        return total_;
    }
    std::string describe() const { return "total " + std::to_string(total_); }
    static inline std::atomic<int> alive{0};

protected:
    ~counter_obj() override { --alive; }

private:
    int total_ = 0;
};

TEST(ptask, member_calls_keep_their_target_until_the_task_is_gone)
{
    manual_executor exe;
    {
        vantor::refc_obj<counter_obj> obj(new counter_obj());
        vantor::fut<int> later;
        vantor::fut<int> r1 = vantor::post_mcall(exe.handle(), obj, &counter_obj::add_to, 1, later);
        vantor::fut<std::string> r2 = vantor::post_mcall(
            exe.handle(), vantor::pcallmptr_<counter_obj>{obj.get()}, &counter_obj::describe);
        obj.reset();
        EXPECT_EQ(counter_obj::alive.load(), 1);  // held by the first task
        exe.run_all();
        EXPECT_EQ(outcome(r2), "total 0");
        later.set_value(2);
        EXPECT_EQ(counter_obj::alive.load(), 1);
        exe.run_all();
        EXPECT_EQ(outcome(r1), "3");
    }
    EXPECT_EQ(counter_obj::alive.load(), 0);
}

int digits(int a, int b, int c, int d, int e, int f, int g)
{
    return (((((a * 10 + b) * 10 + c) * 10 + d) * 10 + e) * 10 + f) * 10 + g;
}

struct digit_obj : public vantor::refc_obj_class {
    int four(int a, int b, int c, int d) const { return ((a * 10 + b) * 10 + c) * 10 + d; }
};

TEST(ptask, every_arity_passes_its_arguments_in_order)
{
    manual_executor exe;
    const vantor::executor_handle e = exe.handle();
    vantor::fut<int> f3 = vantor::fut<int>::make_ready(3);
    auto d = [](auto... v) {
        int r = 0;
        ((r = r * 10 + v), ...);
        return r;
    };
    vantor::refc_obj<digit_obj> obj(new digit_obj());
    std::vector<std::pair<vantor::fut<int>, int>> results = {
        {vantor::post_call(e, [] { return 0; }), 0},
        {vantor::post_call(e, d, 1), 1},
        {vantor::post_call(e, d, 1, 2), 12},
        {vantor::post_call(e, d, 1, 2, f3), 123},
        {vantor::post_call(e, d, 1, 2, f3, 4), 1234},
        {vantor::post_call(e, d, 1, 2, f3, 4, 5), 12345},
        {vantor::post_call(e, &digits, 1, 2, f3, 4, 5, 6, 7), 1234567},
        {vantor::post_mcall(e, obj, &digit_obj::four, 1, 2, f3, 4), 1234},
    };
    exe.run_all();
    for (const auto& [f, expected] : results) {
        EXPECT_EQ(f.get(), expected);
    }
}

TEST(ptask, copy_and_catch_tasks_hand_on_the_source_outcome)
{
    manual_executor exe;
    for (bool fail : {false, true}) {
        SCOPED_TRACE(fail ? "failed source" : "done source");
        vantor::fut<std::string> source;
        vantor::fut<std::string> copy =
            (new vantor::pcopytask<std::string>(exe.handle(), source))->take_fut();
        auto caught = (new vantor::pcatchtask<std::string>(exe.handle(), source))->take_fut();
        EXPECT_EQ(exe.queued(), 0u);
        fail ? source.set_exception(vantor::exception("lost")) : source.set_value("kept");
        EXPECT_EQ(exe.run_all(), 2);
        EXPECT_EQ(outcome(copy), fail ? "!lost" : "kept");
        vantor::svar2<std::string, vantor::exception> v = caught.get();  // never fails
        ASSERT_EQ(v.index(), fail ? 1u : 0u);
        if (fail) {
            EXPECT_STREQ(std::get<1>(v).what(), "lost");
        } else {
            EXPECT_EQ(std::get<0>(v), "kept");
        }
    }
}

// The host-side future of pxtask1 is played by a future of this process behind its own table.
struct text_value_ops {
    std::intptr_t zero;
    const std::string*(__cdecl* text)(void* handle);
};
struct text_value {
    const text_value_ops* ops;
    void* handle;
};
const std::string* __cdecl text_of(void* h)
{
    return static_cast<const std::string*>(h);
}
constexpr text_value_ops text_ops{0, &text_of};
struct text_traits {
    using value = text_value;
    using receiver = text_value;  // not used by these tests
    static std::string from_value(const value& v) { return *v.ops->text(v.handle); }
    static value to_value(const std::string& s) { return {&text_ops, const_cast<std::string*>(&s)}; }
    static void pass(const receiver&, const std::string&) {}
};

TEST(ptask, pxtask1_hands_the_outcome_to_a_host_side_future)
{
    manual_executor exe;
    for (bool fail : {false, true}) {
        SCOPED_TRACE(fail ? "failed source" : "done source");
        vantor::fut<std::string> source;
        vantor::fut<std::string> host_side;
        auto x = vantor::make_xapi_fut<std::string, text_traits>(host_side);
        vantor::fut<int> done =
            (new vantor::pxtask1<std::string, text_traits>(exe.handle(), source, x))->take_fut();
        EXPECT_EQ(host_side.state()->ref_count_for_testing(), 2);
        fail ? source.set_exception(vantor::exception("refused")) : source.set_value("granted");
        exe.run_all();
        EXPECT_EQ(outcome(done), "1");
        EXPECT_EQ(outcome(host_side), fail ? "!refused" : "granted");
        // The task freed the handle it was given.
        EXPECT_EQ(host_side.state()->ref_count_for_testing(), 1);
    }
}

TEST(ptask, then_posts_its_job_once_the_future_settles)
{
    manual_executor exe;
    struct probe {
        vantor::fut<int> f;
        std::vector<std::string> seen;
    };
    auto run = [](void* p) {
        auto* pr = static_cast<probe*>(p);
        pr->seen.push_back("run " + outcome(pr->f));
    };
    auto release = [](void* p) { static_cast<probe*>(p)->seen.push_back("release"); };
    for (int settled_before : {0, 1}) {
        SCOPED_TRACE(settled_before);
        probe p;
        if (settled_before) {
            p.f.set_exception(vantor::exception("early"));
        }
        p.f.then(exe.handle(), vantor::job{run, release, &p});
        EXPECT_EQ(exe.queued(), settled_before ? 1u : 0u);
        if (!settled_before) {
            p.f.set_value(6);
            EXPECT_EQ(exe.queued(), 1u);
        }
        EXPECT_TRUE(p.seen.empty());  // nothing runs on the settling thread
        exe.run_all();
        EXPECT_EQ(p.seen, (std::vector<std::string>{settled_before ? "run !early" : "run 6", "release"}));
    }
}

// An executor that refuses every post.
void __cdecl refuse_post(void*, vantor::job_fn, vantor::job_fn, void*)
{
    throw vantor::exception("executor closed");
}

TEST(ptask, a_task_its_executor_refuses_fails_its_future)
{
    calls = 0;
    for (vantor::executor_handle e :
         {vantor::executor_handle{&refuse_post, nullptr}, vantor::executor_handle{}}) {
        vantor::fut<int> r = vantor::post_call(e, &add, 1, 2);
        EXPECT_EQ(outcome(r), "!:");
        EXPECT_EQ(r.state()->ref_count_for_testing(), 1);
    }
    EXPECT_EQ(calls.load(), 0);
}

TEST(ptask, tasks_with_sources_settled_on_other_threads_run_once_on_the_executor_thread)
{
    constexpr int task_count = 300;
    std::vector<std::atomic<int>> runs(task_count);
    std::vector<DWORD> ran_on(task_count, 0);
    std::vector<vantor::fut<int>> lefts(task_count), rights(task_count), results;
    {
        thread_executor exe;
        auto body = [&](int i, int l, int r) {
            ++runs[static_cast<std::size_t>(i)];
            ran_on[static_cast<std::size_t>(i)] = GetCurrentThreadId();
            return l + r;
        };
        for (int i = 0; i < task_count; ++i) {
            results.push_back(vantor::post_call(exe.handle(), body, i, lefts[static_cast<std::size_t>(i)],
                                                rights[static_cast<std::size_t>(i)]));
        }
        std::thread left_setter([&] {
            for (int i = 0; i < task_count; ++i) {
                lefts[static_cast<std::size_t>(i)].set_value(i);
            }
        });
        std::thread right_setter([&] {
            for (int i = task_count - 1; i >= 0; --i) {
                if (i % 7 == 0) {
                    rights[static_cast<std::size_t>(i)].set_exception(vantor::exception("seven"));
                } else {
                    rights[static_cast<std::size_t>(i)].set_value(1000);
                }
            }
        });
        left_setter.join();
        right_setter.join();
        for (int i = 0; i < task_count; ++i) {
            SCOPED_TRACE(i);
            const vantor::fut<int>& r = results[static_cast<std::size_t>(i)];
            if (i % 7 == 0) {
                try {
                    r.wait_for(10000);
                    ADD_FAILURE() << "no failure";
                } catch (const vantor::exception& e) {
                    EXPECT_STREQ(e.what(), "seven");
                }
                EXPECT_EQ(runs[static_cast<std::size_t>(i)].load(), 0);
            } else {
                EXPECT_EQ(r.wait_for(10000), i + 1000);
                EXPECT_EQ(runs[static_cast<std::size_t>(i)].load(), 1);
                EXPECT_EQ(ran_on[static_cast<std::size_t>(i)], exe.thread_id());
            }
        }
    }
}

}  // namespace
