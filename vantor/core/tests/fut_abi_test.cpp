#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "vantor/core/exception.h"
#include "vantor/core/fut.h"
#include "vantor/core/fut_abi_table.h"
#include "vantor/core/win_api.h"

namespace {

// A text value form of this test, shaped like the boundary's: {table; handle}, the table
// beginning with a zero word. The handle is a std::string.
struct text_value_ops {
    std::intptr_t zero;
    const char*(__cdecl* data)(void* handle);
    std::int32_t(__cdecl* size)(void* handle);
};
struct text_value {
    const text_value_ops* ops;
    void* handle;
};

const char* __cdecl text_data(void* h)
{
    return static_cast<std::string*>(h)->data();
}
std::int32_t __cdecl text_size(void* h)
{
    return static_cast<std::int32_t>(static_cast<std::string*>(h)->size());
}
constexpr text_value_ops text_ops{0, &text_data, &text_size};

// A receiver record {zero word; function} with its target.
struct text_receiver_record {
    std::intptr_t zero;
    void(__cdecl* take)(void* target, text_value v);
};
struct text_receiver {
    const text_receiver_record* record;
    void* target;
};

void __cdecl take_text(void* target, text_value v)
{
    *static_cast<std::string*>(target) =
        std::string(v.ops->data(v.handle), static_cast<std::size_t>(v.ops->size(v.handle)));
}
constexpr text_receiver_record text_receiver_of{0, &take_text};

// How this test's text values cross: the traits the element type will have, over std::string.
struct text_traits {
    using value = text_value;
    using receiver = text_receiver;

    static std::string from_value(const value& v)
    {
        if (v.ops == nullptr) {
            throw vantor::exception("not a text");
        }
        return std::string(v.ops->data(v.handle), static_cast<std::size_t>(v.ops->size(v.handle)));
    }
    static value to_value(const std::string& s) { return {&text_ops, const_cast<std::string*>(&s)}; }
    static void pass(const receiver& r, const std::string& s) { r.record->take(r.target, to_value(s)); }
};

using ops_t = vantor::fut_abi_ops<std::string, text_traits>;

// The plug-in's own future handed out as the host would receive it.
struct host_view {
    vantor::fut<std::string> f;
    vantor::xapi_fut<std::string, text_traits> x = vantor::make_xapi_fut<std::string, text_traits>(f);
    const ops_t& ops = *x.ops;

    ~host_view() { ops.free(x.handle); }
};

// A result receiver that records its calls.
struct result_log {
    std::vector<std::string> calls;

    static void __cdecl finish(void* t) { static_cast<result_log*>(t)->calls.push_back("finish"); }
    static void __cdecl value(void* t, text_value v)
    {
        std::string s;
        take_text(&s, v);
        static_cast<result_log*>(t)->calls.push_back("value:" + s);
    }
    static void __cdecl error(void* t, const char* text)
    {
        static_cast<result_log*>(t)->calls.push_back(std::string("error:") + text);
    }
};
constexpr vantor::fut_result_receiver_ops<text_value> result_ops{0, nullptr, &result_log::finish,
                                                                 &result_log::value, &result_log::error};

std::vector<std::string> deliver(host_view& h)
{
    result_log log;
    h.ops.deliver(h.x.handle, {&result_ops, &log});
    return log.calls;
}

struct continuation_log {
    std::vector<std::string> lines;
    static void __cdecl done(void* self) { static_cast<continuation_log*>(self)->lines.push_back("done"); }
    static void __cdecl failed(void* self, const char* text)
    {
        static_cast<continuation_log*>(self)->lines.push_back(std::string("fail:") + text);
    }
    vantor::fut_continuation record() { return {this, &done, &failed}; }
};

TEST(fut_abi, version_clone_and_free)
{
    host_view h;
    EXPECT_EQ(h.ops.version, 2);
    EXPECT_EQ(h.f.state()->ref_count_for_testing(), 2);
    void* clone = h.ops.clone(h.x.handle);
    ASSERT_NE(clone, nullptr);
    EXPECT_NE(clone, h.x.handle);
    EXPECT_EQ(h.f.state()->ref_count_for_testing(), 3);
    // The clone reaches the same state.
    std::string s = "via clone";
    h.ops.set_value(clone, {&text_ops, &s});
    EXPECT_EQ(h.f.get(), "via clone");
    h.ops.free(clone);
    EXPECT_EQ(h.f.state()->ref_count_for_testing(), 2);
    h.ops.free(nullptr);
    EXPECT_EQ(h.ops.clone(nullptr), nullptr);
}

TEST(fut_abi, set_value_and_set_error_settle_only_a_pending_future)
{
    struct row {
        const char* name;
        bool value_first;
        std::string expected_get;
        const char* expected_error_text;
    };
    for (const row& r : {row{"value first", true, "v", nullptr}, row{"error first", false, "", "e"}}) {
        SCOPED_TRACE(r.name);
        host_view h;
        std::string v = "v";
        if (r.value_first) {
            h.ops.set_value(h.x.handle, {&text_ops, &v});
            h.ops.set_error(h.x.handle, "e");
        } else {
            h.ops.set_error(h.x.handle, "e");
            h.ops.set_value(h.x.handle, {&text_ops, &v});
        }
        std::string got;
        const char* r5 = h.ops.get(h.x.handle, {&text_receiver_of, &got});
        EXPECT_EQ(got, r.expected_get);
        if (r.value_first) {
            EXPECT_EQ(r5, nullptr);
            EXPECT_EQ(h.ops.error_text(h.x.handle), nullptr);
        } else {
            ASSERT_NE(r5, nullptr);
            EXPECT_STREQ(r5, "");
            EXPECT_STREQ(h.ops.error_text(h.x.handle), r.expected_error_text);
        }
    }
    {
        SCOPED_TRACE("a value that does not convert is dropped, a null message is an empty text");
        host_view h;
        h.ops.set_value(h.x.handle, {nullptr, nullptr});
        EXPECT_TRUE(h.f.is_pending());
        h.ops.set_error(h.x.handle, nullptr);
        EXPECT_STREQ(h.ops.error_text(h.x.handle), "");
    }
}

TEST(fut_abi, get_and_wait)
{
    host_view h;
    std::string got = "untouched";
    const char* r = h.ops.get(h.x.handle, {&text_receiver_of, &got});
    ASSERT_NE(r, nullptr);
    EXPECT_STREQ(r, "");
    EXPECT_EQ(got, "untouched");

    std::thread setter([f = h.f] {
        Sleep(20);
        f.set_value("late");
    });
    EXPECT_EQ(h.ops.wait(h.x.handle, {&text_receiver_of, &got}), nullptr);
    EXPECT_EQ(got, "late");
    setter.join();

    host_view failed;
    failed.f.set_exception(vantor::exception("no"));
    got = "untouched";
    r = failed.ops.wait(failed.x.handle, {&text_receiver_of, &got});
    ASSERT_NE(r, nullptr);
    EXPECT_STREQ(r, "");
    EXPECT_EQ(got, "untouched");
}

TEST(fut_abi, continuations_through_the_table)
{
    host_view h;
    continuation_log log;
    vantor::fut_continuation rec = log.record();
    int on_add = 0;
    auto count = [](void* n) { ++*static_cast<int*>(n); };
    h.ops.add_continuation(h.x.handle, &rec, count, &on_add);
    h.ops.add_continuation(h.x.handle, &rec, count, &on_add);
    EXPECT_EQ(on_add, 1);
    EXPECT_EQ(h.ops.remove_continuation(h.x.handle, &rec), 1);
    EXPECT_EQ(h.ops.remove_continuation(h.x.handle, &rec), 0);

    bool reported = false;
    h.ops.add_continuation_or_report(h.x.handle, &rec, count, &on_add, vantor_abi::bool_out::into(reported));
    EXPECT_FALSE(reported);  // pending: taken
    EXPECT_EQ(on_add, 2);
    h.ops.add_continuation_or_report(h.x.handle, &rec, count, &on_add, vantor_abi::bool_out::into(reported));
    EXPECT_FALSE(reported);  // already in the set: not taken again, and nothing to report
    EXPECT_EQ(on_add, 2);
    h.ops.set_error(h.x.handle, "gone");
    EXPECT_EQ(log.lines, std::vector<std::string>{"fail:gone"});
    EXPECT_EQ(h.ops.remove_continuation(h.x.handle, &rec), 0);

    // Settled futures take no record; operation 10 tells the caller to run it itself.
    for (bool fail : {true, false}) {
        SCOPED_TRACE(fail ? "failed" : "done");
        host_view s;
        fail ? s.f.set_exception(vantor::exception("x")) : s.f.set_value("y");
        reported = false;
        s.ops.add_continuation(s.x.handle, &rec, count, &on_add);
        s.ops.add_continuation_or_report(s.x.handle, &rec, count, &on_add,
                                         vantor_abi::bool_out::into(reported));
        EXPECT_TRUE(reported);
        EXPECT_EQ(on_add, 2);
    }
}

TEST(fut_abi, deliver_reports_each_outcome_and_always_finishes)
{
    host_view pending;
    EXPECT_EQ(deliver(pending), (std::vector<std::string>{"error:fut not set", "finish"}));

    host_view done;
    done.f.set_value("answer");
    EXPECT_EQ(deliver(done), (std::vector<std::string>{"value:answer", "finish"}));

    host_view failed;
    failed.f.set_exception(vantor::exception("denied"));
    EXPECT_EQ(deliver(failed), (std::vector<std::string>{"error:denied", "finish"}));

    // A receiver whose value operation throws gets its error operation with the text.
    constexpr vantor::fut_result_receiver_ops<text_value> throwing_ops{
        0, nullptr, &result_log::finish, [](void*, text_value) { throw vantor::exception("receiver full"); },
        &result_log::error};
    result_log log;
    done.ops.deliver(done.x.handle, {&throwing_ops, &log});
    EXPECT_EQ(log.calls, (std::vector<std::string>{"error:receiver full", "finish"}));
}

}  // namespace
