#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "vantor/core/exception.h"
#include "vantor/core/fut.h"
#include "vantor/core/win_api.h"

namespace {

// Reads a future's outcome as text: the value, or "!" and the exception's text.
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

// Continuation records that log what they were called with.
struct call_log {
    std::vector<std::string> lines;

    static void __cdecl done(void* self) { static_cast<call_log*>(self)->lines.push_back("done"); }
    static void __cdecl failed(void* self, const char* text)
    {
        static_cast<call_log*>(self)->lines.push_back(std::string("fail:") + text);
    }
    vantor::fut_continuation record() { return {this, &done, &failed}; }
};

TEST(fut, settles_once)
{
    struct row {
        const char* name;
        bool first_is_value;
        bool second_is_value;
        std::string expected;
    };
    for (const row& r :
         {row{"value then value", true, true, "7"}, row{"value then error", true, false, "7"},
          row{"error then value", false, true, "!first"}, row{"error then error", false, false, "!first"}}) {
        SCOPED_TRACE(r.name);
        vantor::fut<int> f;
        EXPECT_TRUE(r.first_is_value ? f.set_value(7) : f.set_exception(vantor::exception("first")));
        EXPECT_FALSE(r.second_is_value ? f.set_value(8) : f.set_exception(vantor::exception("second")));
        EXPECT_EQ(outcome(f), r.expected);

        // The checked forms raise "fut already set" and still change nothing.
        try {
            if (r.second_is_value) {
                f.set_value(9, true);
            } else {
                f.set_exception_or_throw(vantor::exception("third"));
            }
            ADD_FAILURE() << "no exception";
        } catch (const vantor::exception& e) {
            EXPECT_STREQ(e.what(), "fut already set");
        }
        EXPECT_EQ(outcome(f), r.expected);
    }
}

TEST(fut, reading_a_pending_future_throws_fut_not_set)
{
    vantor::fut<std::string> f;
    EXPECT_EQ(outcome(f), "!fut not set");
    EXPECT_TRUE(f.is_pending());
    vantor::fut<std::string> copy = f;  // copies share the state
    copy.set_value("x");
    EXPECT_EQ(outcome(f), "x");
    EXPECT_EQ(f.state()->ref_count_for_testing(), 2);
}

TEST(fut, continuation_set_keeps_a_record_once)
{
    vantor::fut<int> f;
    call_log log;
    int on_add_calls = 0;
    auto on_add = [](void* counter) { ++*static_cast<int*>(counter); };
    bool failed = false;
    EXPECT_TRUE(f.add_continuation(log.record(), on_add, &on_add_calls, &failed));
    EXPECT_FALSE(f.add_continuation(log.record(), on_add, &on_add_calls, &failed));
    EXPECT_EQ(on_add_calls, 1);
    EXPECT_EQ(f.state()->continuation_count_for_testing(), 1u);

    // A record differing in one field is another record.
    vantor::fut_continuation other = log.record();
    other.on_fail = nullptr;
    EXPECT_TRUE(f.add_continuation(other, nullptr, nullptr, nullptr));

    EXPECT_TRUE(f.remove_continuation(other));
    EXPECT_FALSE(f.remove_continuation(other));
    f.set_value(1);
    EXPECT_EQ(log.lines, std::vector<std::string>{"done"});
    EXPECT_FALSE(failed);

    // Settled futures take no records: done says nothing, failed raises the flag.
    EXPECT_FALSE(f.add_continuation(log.record(), on_add, &on_add_calls, &failed));
    EXPECT_FALSE(failed);
    EXPECT_FALSE(f.remove_continuation(log.record()));
    vantor::fut<int> g;
    g.set_exception(vantor::exception("boom"));
    EXPECT_FALSE(g.add_continuation(log.record(), on_add, &on_add_calls, &failed));
    EXPECT_TRUE(failed);
    EXPECT_EQ(on_add_calls, 1);
}

TEST(fut, continuations_run_in_set_order_and_a_failing_one_does_not_stop_the_rest)
{
    vantor::fut<int> f;
    std::vector<int> order;
    struct slot {
        std::vector<int>* order;
        int id;
    };
    auto record = [](slot& s) {
        return vantor::fut_continuation{&s,
                                        [](void* p) {
                                            auto* s = static_cast<slot*>(p);
                                            s->order->push_back(s->id);
                                            if (s->id == 1) {
                                                throw vantor::exception("continuation throws");
                                            }
                                        },
                                        nullptr};
    };
    slot slots[3] = {{&order, 0}, {&order, 1}, {&order, 2}};
    // Added in reverse; they run in the set's order (by record), which here is address order.
    for (int i = 2; i >= 0; --i) {
        f.add_continuation(record(slots[i]), nullptr, nullptr, nullptr);
    }
    EXPECT_TRUE(f.set_value(5));
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
}

TEST(fut, failure_reaches_continuations_with_its_text)
{
    vantor::fut<int> f;
    call_log log;
    f.add_continuation(log.record(), nullptr, nullptr, nullptr);
    f.set_exception(vantor::exception("broken pipe"));
    EXPECT_EQ(log.lines, std::vector<std::string>{"fail:broken pipe"});
    EXPECT_STREQ(f.state()->error_text(), "broken pipe");
    EXPECT_EQ(outcome(f), "!broken pipe");
}

struct then_probe {
    explicit then_probe(vantor::fut<int>* future) : f(future) {}

    vantor::fut<int>* f;
    std::string seen;
    DWORD thread = 0;
    int calls = 0;

    static void __cdecl call(void* context, void* a, void* b, void* c)
    {
        auto* self = static_cast<then_probe*>(context);
        ++self->calls;
        self->thread = GetCurrentThreadId();
        self->seen = outcome(*self->f) + "/" + static_cast<const char*>(a) + static_cast<const char*>(b) +
                     static_cast<const char*>(c);
    }
};

TEST(fut, then_runs_once_on_the_settling_thread_or_at_once_when_settled)
{
    char a[] = "a", b[] = "b", c[] = "c";
    {
        SCOPED_TRACE("pending, settled on another thread");
        vantor::fut<int> f;
        then_probe p(&f);
        f.then(&then_probe::call, &p, a, b, c);
        EXPECT_EQ(p.calls, 0);
        DWORD settler = 0;
        std::thread t([&] {
            settler = GetCurrentThreadId();
            f.set_value(3);
            f.set_value(4);
        });
        t.join();
        EXPECT_EQ(p.calls, 1);
        EXPECT_EQ(p.thread, settler);
        EXPECT_EQ(p.seen, "3/abc");
    }
    for (bool fail : {false, true}) {
        SCOPED_TRACE(fail ? "already failed" : "already done");
        vantor::fut<int> f;
        fail ? f.set_exception(vantor::exception("late")) : f.set_value(2);
        then_probe p(&f);
        f.then(&then_probe::call, &p, a, b, c);
        EXPECT_EQ(p.calls, 1);
        EXPECT_EQ(p.thread, GetCurrentThreadId());
        EXPECT_EQ(p.seen, fail ? "!late/abc" : "2/abc");
    }
    {
        SCOPED_TRACE("a throwing function is contained");
        vantor::fut<int> f;
        f.then([](void*, void*, void*, void*) { throw vantor::exception("then throws"); }, nullptr);
        EXPECT_TRUE(f.set_value(1));
        f.then([](void*, void*, void*, void*) { throw 5; }, nullptr);
    }
}

TEST(fut, wait_returns_what_another_thread_sets)
{
    for (bool fail : {false, true}) {
        SCOPED_TRACE(fail ? "failed" : "done");
        vantor::fut<std::string> f;
        std::thread t([f, fail] {
            Sleep(20);
            fail ? f.set_exception(vantor::exception("far")) : f.set_value("near");
        });
        try {
            EXPECT_EQ(f.wait_for(10000), "near");
            EXPECT_FALSE(fail);
        } catch (const vantor::exception& e) {
            EXPECT_TRUE(fail);
            EXPECT_STREQ(e.what(), "far");
        }
        t.join();
        EXPECT_EQ(f.state()->continuation_count_for_testing(), 0u);
    }
}

TEST(fut, timed_out_wait_gives_up_alone_and_the_future_stays_pending)
{
    vantor::fut<int> f;
    call_log other_holder;
    f.add_continuation(other_holder.record(), nullptr, nullptr, nullptr);
    for (std::int64_t timeout : {0, 30}) {
        SCOPED_TRACE(timeout);
        try {
            f.wait_for(timeout);
            ADD_FAILURE() << "no time-out";
        } catch (const vantor::exception& e) {
            EXPECT_STREQ(e.what(), "/timeout");
        }
        // The waiter took its own record back; the other holder's record stays.
        EXPECT_TRUE(f.is_pending());
        EXPECT_EQ(f.state()->continuation_count_for_testing(), 1u);
    }
    // A later value still completes the future for everybody.
    std::atomic<int> seen{0};
    std::thread waiter([f, &seen] { seen = f.wait(); });
    while (f.state()->continuation_count_for_testing() < 2) {
        Sleep(1);
    }
    EXPECT_TRUE(f.set_value(11));
    waiter.join();
    EXPECT_EQ(seen.load(), 11);
    EXPECT_EQ(f.wait_for(0), 11);
    EXPECT_EQ(other_holder.lines, std::vector<std::string>{"done"});
}

TEST(fut, many_waiters_and_racing_settlers_agree_on_one_outcome)
{
    for (int round = 0; round < 8; ++round) {
        vantor::fut<int> f;
        std::atomic<int> wins{0};
        std::vector<std::thread> threads;
        std::vector<int> seen(4, -1);
        for (int i = 0; i < 4; ++i) {
            threads.emplace_back([f, i, &seen] { seen[static_cast<std::size_t>(i)] = f.wait_for(10000); });
        }
        for (int i = 0; i < 4; ++i) {
            threads.emplace_back([f, i, &wins] {
                if (f.set_value(100 + i)) {
                    ++wins;
                }
            });
        }
        for (auto& t : threads) {
            t.join();
        }
        EXPECT_EQ(wins.load(), 1);
        for (int v : seen) {
            EXPECT_EQ(v, f.get());
        }
    }
}

TEST(fut, empty_holder_is_refused)
{
    vantor::fut<int> f;
    vantor::fut<int> g = std::move(f);
    EXPECT_FALSE(f.valid());
    EXPECT_THROW(f.get(), vantor::exception);
    g = vantor::fut<int>::make_ready(4);
    EXPECT_EQ(g.get(), 4);
}

}  // namespace
