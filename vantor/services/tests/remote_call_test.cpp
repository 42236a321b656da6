#include "vantor/services/remote_call.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "vantor/core/exception.h"
#include "vantor/core/locks.h"
#include "vantor/core/netbuf.h"
#include "vantor/services/packed.h"

namespace {

namespace packet = tarvojson::packet;

std::string failure_of(const vantor::fut<netbuf>& f)
{
    try {
        f.get();
    } catch (const vantor::exception& e) {
        return e.what();
    }
    return "(no failure)";
}

class rpc_call_test : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (netbuf::table().create == nullptr) {
            netbuf::install_local_table();
        }
    }

    // A reply as the callee writes it: the result, then the trailer.
    netbuf reply_for(vantor::rpc_call& calls, std::uint64_t id, bool success, const std::string& result)
    {
        netbuf reply;
        if (!result.empty()) {
            packet::write_string(reply, result);
        }
        calls.write_reply_header(reply, id, success);
        // The dispatcher takes the trailing name off before handing the packet over.
        std::string name;
        packet::read_string(reply, name);
        EXPECT_EQ(name, "-");
        return reply;
    }

    vantor::critical_section lock_;
};

TEST_F(rpc_call_test, requests_carry_increasing_ids_and_the_method_name)
{
    vantor::rpc_call calls(lock_.get(), true);
    netbuf first;
    packet::write_u32(first, 77);
    calls.begin_call(first, "+");
    netbuf second;
    calls.begin_call(second);

    std::string name;
    packet::read_string(first, name);
    EXPECT_EQ(name, "+");
    EXPECT_EQ(packet::read_u64(first), 1u);
    EXPECT_EQ(packet::read_u32(first), 77u);
    EXPECT_EQ(packet::read_u64(second), 2u);
    EXPECT_TRUE(second.is_empty());
}

TEST_F(rpc_call_test, a_reply_completes_the_call_with_its_id)
{
    vantor::rpc_call calls(lock_.get(), true);
    netbuf a;
    netbuf b;
    vantor::fut<netbuf> first = calls.begin_call(a, "+");
    vantor::fut<netbuf> second = calls.begin_call(b, "+");

    netbuf reply = reply_for(calls, 2, true, "for two");
    calls.on_reply(reply);
    ASSERT_TRUE(second.is_done());
    EXPECT_TRUE(first.is_pending());
    netbuf result = second.get();
    std::string text;
    packet::read_string(result, text);
    EXPECT_EQ(text, "for two");
    EXPECT_EQ(calls.pending_count(), 1u);
}

TEST_F(rpc_call_test, unknown_and_repeated_ids_change_nothing)
{
    vantor::rpc_call calls(lock_.get(), true);
    netbuf request;
    vantor::fut<netbuf> call = calls.begin_call(request);

    netbuf unknown = reply_for(calls, 9, true, "x");
    EXPECT_NO_THROW(calls.on_reply(unknown));
    EXPECT_TRUE(call.is_pending());

    netbuf answer = reply_for(calls, 1, true, "first");
    calls.on_reply(answer);
    netbuf again = reply_for(calls, 1, false, "");
    EXPECT_NO_THROW(calls.on_reply(again));
    ASSERT_TRUE(call.is_done());
    netbuf result = call.get();
    std::string text;
    packet::read_string(result, text);
    EXPECT_EQ(text, "first");
}

TEST_F(rpc_call_test, status_and_empty_results)
{
    struct row {
        const char* label;
        bool with_status;
        bool success;
        bool fails;
    };
    const row rows[] = {
        {"status T only completes with an empty packet", true, true, false},
        {"status F fails", true, false, true},
        {"without status an id alone fails", false, true, true},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.label);
        vantor::rpc_call calls(lock_.get(), r.with_status);
        netbuf request;
        vantor::fut<netbuf> call = calls.begin_call(request);
        netbuf reply = reply_for(calls, 1, r.success, "");
        calls.on_reply(reply);
        if (r.fails) {
            EXPECT_EQ(failure_of(call), "call failed");
        } else {
            ASSERT_TRUE(call.is_done());
            EXPECT_TRUE(call.get().is_empty());
        }
    }
}

TEST_F(rpc_call_test, a_malformed_status_byte_fails_the_call_instead_of_leaking_it)
{
    vantor::rpc_call calls(lock_.get(), true);
    netbuf request;
    vantor::fut<netbuf> call = calls.begin_call(request);
    netbuf reply;
    packet::write_string(reply, "result");
    reply.append_byte('X');
    packet::write_u64(reply, 1);

    try {
        calls.on_reply(reply);
        ADD_FAILURE() << "no codec error";
    } catch (const vantor::exception& e) {
        EXPECT_STREQ(e.what(), "error parsing packet");
    }
    EXPECT_EQ(failure_of(call), "call failed");
    EXPECT_EQ(calls.pending_count(), 0u);
}

TEST_F(rpc_call_test, a_malformed_id_raises_before_any_call_is_touched)
{
    vantor::rpc_call calls(lock_.get(), true);
    netbuf request;
    vantor::fut<netbuf> call = calls.begin_call(request);
    netbuf reply;
    reply.append_byte(9);  // a count byte above the width of a 64-bit number
    EXPECT_THROW(calls.on_reply(reply), vantor::exception);
    EXPECT_TRUE(call.is_pending());
}

TEST_F(rpc_call_test, destruction_and_fail_all_fail_every_pending_call_in_id_order)
{
    std::vector<vantor::fut<netbuf>> calls_made;
    std::vector<int> order;
    {
        vantor::rpc_call calls(lock_.get(), false);
        for (int i = 0; i < 3; ++i) {
            netbuf request;
            calls_made.push_back(calls.begin_call(request));
            calls_made.back().then(
                [](void* context, void* index, void*, void*) {
                    static_cast<std::vector<int>*>(context)->push_back(
                        static_cast<int>(reinterpret_cast<std::intptr_t>(index)));
                },
                &order, reinterpret_cast<void*>(static_cast<std::intptr_t>(i)));
        }
    }
    for (const auto& call : calls_made) {
        EXPECT_EQ(failure_of(call), "clearing");
    }
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));

    vantor::rpc_call calls(lock_.get(), false);
    netbuf request;
    vantor::fut<netbuf> call = calls.begin_call(request);
    calls.fail_all("channel broken");
    EXPECT_EQ(failure_of(call), "channel broken");
}

// Continuations run where the call completes; the owner's lock must be free by then, so that a
// continuation may hand work to a thread that takes it.
TEST_F(rpc_call_test, futures_complete_outside_the_owners_lock)
{
    vantor::rpc_call calls(lock_.get(), true);
    netbuf request;
    vantor::fut<netbuf> call = calls.begin_call(request);
    struct probe {
        CRITICAL_SECTION* lock;
        bool free_elsewhere = false;
    } p{lock_.get()};
    call.then(
        [](void* context, void*, void*, void*) {
            auto* q = static_cast<probe*>(context);
            std::thread other([q] {
                if (TryEnterCriticalSection(q->lock)) {
                    q->free_elsewhere = true;
                    LeaveCriticalSection(q->lock);
                }
            });
            other.join();
        },
        &p);
    netbuf reply = reply_for(calls, 1, true, "done");
    calls.on_reply(reply);
    EXPECT_TRUE(p.free_elsewhere);
}

}  // namespace
