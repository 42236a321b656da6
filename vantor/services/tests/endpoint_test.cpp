#include "vantor/services/endpoint.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "vantor/core/clock.h"
#include "vantor/core/log.h"
#include "vantor/core/win_api.h"
#include "vantor/core/win_handle.h"
#include "vantor/services/pipe.h"
#include "vantor/services/tests/pipe_peer_process.h"

namespace {

std::string unique_name(const char* what)
{
    static std::atomic<int> counter{0};
    return std::string("vantor_test_") + what + "_" + std::to_string(GetCurrentProcessId()) + "_" +
           std::to_string(++counter);
}

// Answers "reply:" + request; "fail" throws, "empty" answers nothing, "hold" waits until the
// test releases it. Records every request and the process id behind each pipe.
class echo_endpoint final : public vantor::ipc {
public:
    explicit echo_endpoint(const std::string& name, std::uint32_t flags = 0)
        : vantor::ipc(name, flags),
          release_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          holding_(CreateEventW(nullptr, TRUE, FALSE, nullptr))
    {
    }
    ~echo_endpoint() override
    {
        SetEvent(release_.get());
        stop_server();
    }

    std::string on_request(HANDLE pipe, const std::string& request) override
    {
        ULONG client = 0;
        GetNamedPipeClientProcessId(pipe, &client);
        {
            std::lock_guard<std::mutex> hold(lock_);
            requests_.push_back(request);
            clients_.push_back(client);
        }
        return process(request);
    }

    std::string process(const std::string& request) override
    {
        if (request == "fail") {
            throw vantor::exception("handler failed");
        }
        if (request == "empty") {
            return {};
        }
        if (request == "hold") {
            SetEvent(holding_.get());
            WaitForSingleObject(release_.get(), 10000);
        }
        return "reply:" + request;
    }

    std::vector<std::string> requests()
    {
        std::lock_guard<std::mutex> hold(lock_);
        return requests_;
    }
    std::vector<ULONG> clients()
    {
        std::lock_guard<std::mutex> hold(lock_);
        return clients_;
    }
    void release() { SetEvent(release_.get()); }
    bool wait_holding() { return WaitForSingleObject(holding_.get(), 5000) == WAIT_OBJECT_0; }

private:
    vantor::win_event release_;
    vantor::win_event holding_;
    std::mutex lock_;
    std::vector<std::string> requests_;
    std::vector<ULONG> clients_;
};

// Collects the log lines of one channel while it lives.
class log_capture {
public:
    log_capture() { vantor::set_log_line_observer(&observe, this); }
    ~log_capture() { vantor::set_log_line_observer(nullptr, nullptr); }

    bool contains(const std::string& part)
    {
        vantor::log_flush();
        std::lock_guard<std::mutex> hold(lock_);
        for (const std::string& line : lines_) {
            if (line.find(part) != std::string::npos) {
                return true;
            }
        }
        return false;
    }

private:
    static void observe(const char* text, std::size_t length, void* context)
    {
        auto* self = static_cast<log_capture*>(context);
        std::lock_guard<std::mutex> hold(self->lock_);
        self->lines_.emplace_back(text, length);
    }

    std::mutex lock_;
    std::vector<std::string> lines_;
};

std::string ask(const std::string& name, const std::string& request, bool* written = nullptr)
{
    std::string reply = "(none)";
    bool ok = vantor::ipc::transact(name, request, 0, &reply);
    if (written != nullptr) {
        *written = ok;
    }
    return reply;
}

TEST(ipc_endpoint, request_and_reply_within_the_process)
{
    echo_endpoint endpoint(unique_name("basic"));
    ASSERT_TRUE(endpoint.has_server());
    bool written = false;
    EXPECT_EQ(ask(endpoint.name(), "hello", &written), "reply:hello");
    EXPECT_TRUE(written);
    EXPECT_EQ(ask(endpoint.name(), "again"), "reply:again");
    ASSERT_EQ(endpoint.clients().size(), 2u);
    EXPECT_EQ(endpoint.clients()[0], GetCurrentProcessId());
}

TEST(ipc_endpoint, an_empty_reply_sends_nothing_and_the_request_still_counts)
{
    echo_endpoint endpoint(unique_name("empty"));
    bool written = false;
    EXPECT_EQ(ask(endpoint.name(), "empty", &written), "(none)");
    EXPECT_TRUE(written);
}

TEST(ipc_endpoint, a_failing_request_does_not_end_the_loop)
{
    echo_endpoint endpoint(unique_name("failing"));
    log_capture log;
    EXPECT_EQ(ask(endpoint.name(), "fail"), "(none)");
    EXPECT_TRUE(log.contains("request failed: handler failed"));
    // A request longer than one read fails that read; the client gets no reply.
    EXPECT_EQ(ask(endpoint.name(), std::string(vantor::pipe_message_limit + 100, 'x')), "(none)");
    EXPECT_EQ(ask(endpoint.name(), "after"), "reply:after");
}

TEST(ipc_endpoint, the_stop_token_ends_the_loop_unseen_by_the_handler)
{
    auto endpoint = std::make_unique<echo_endpoint>(unique_name("stop"));
    std::string name = endpoint->name();
    std::string token = endpoint->stop_token_for_testing();
    ASSERT_EQ(token.size(), 255u);
    EXPECT_NE(token, echo_endpoint(unique_name("other")).stop_token_for_testing());

    log_capture log;
    EXPECT_TRUE(vantor::ipc::transact(name, token, 0, nullptr));
    // The loop closes its instance when it ends, so the endpoint is gone for clients.
    bool gone = false;
    for (int i = 0; i < 100 && !gone; ++i) {
        gone = !vantor::ipc::transact(name, "late", 0, nullptr);
        if (!gone) {
            Sleep(20);
        }
    }
    EXPECT_TRUE(gone);
    EXPECT_TRUE(log.contains("exiting pipe loop"));
    EXPECT_TRUE(endpoint->requests().empty());
    endpoint.reset();  // stopping an ended loop returns at once
}

TEST(ipc_endpoint, a_busy_endpoint_makes_the_client_give_up_after_three_seconds)
{
    echo_endpoint endpoint(unique_name("busy"));
    std::string first_reply;
    std::thread first([&] { first_reply = ask(endpoint.name(), "hold"); });
    ASSERT_TRUE(endpoint.wait_holding());

    log_capture log;
    std::int64_t start = vantor::monotonic_ms();
    bool written = true;
    ask(endpoint.name(), "second", &written);
    std::int64_t waited = vantor::monotonic_ms() - start;
    EXPECT_FALSE(written);
    EXPECT_GE(waited, vantor::pipe_busy_wait_ms);
    EXPECT_LT(waited, vantor::pipe_busy_wait_ms + 2000);
    EXPECT_FALSE(log.contains("error1"));

    endpoint.release();
    first.join();
    EXPECT_EQ(first_reply, "reply:hold");
}

TEST(ipc_endpoint, a_silent_client_does_not_block_the_next_one)
{
    echo_endpoint endpoint(unique_name("silent"));
    vantor::win_file_handle silent =
        ipc_priv::init_ipc_client(vantor::ipc_pipe_name(endpoint.name(), false), true);
    ASSERT_TRUE(silent.valid());

    std::int64_t start = vantor::monotonic_ms();
    bool written = false;
    EXPECT_EQ(ask(endpoint.name(), "next", &written), "reply:next");
    EXPECT_TRUE(written);
    EXPECT_LT(vantor::monotonic_ms() - start, vantor::pipe_busy_wait_ms);
}

TEST(ipc_endpoint, a_missing_endpoint_fails_at_once)
{
    std::int64_t start = vantor::monotonic_ms();
    EXPECT_FALSE(vantor::ipc::transact(unique_name("missing"), "x", 0, nullptr));
    EXPECT_LT(vantor::monotonic_ms() - start, 1000);
}

TEST(ipc_endpoint, user_scope_endpoints_answer_user_scope_clients)
{
    echo_endpoint endpoint(unique_name("user"), vantor::ipc_user_scope);
    std::string reply;
    EXPECT_TRUE(vantor::ipc::transact(endpoint.name(), "u", vantor::ipc_user_scope, &reply));
    EXPECT_EQ(reply, "reply:u");
    EXPECT_FALSE(vantor::ipc::transact(endpoint.name(), "u", 0, nullptr));
}

TEST(ipc_endpoint, request_and_reply_between_two_processes)
{
    echo_endpoint endpoint(unique_name("peer"));
    peer_test::inheritable_pipe output(false);
    ASSERT_TRUE(output.write.valid());
    peer_test::peer_process peer = peer_test::start_peer(
        L"pipe_peer.exe",
        L"transact " + std::wstring(endpoint.name().begin(), endpoint.name().end()) + L" from-peer", nullptr,
        output.write.get());
    ASSERT_TRUE(peer.process.valid());
    output.write.reset();

    std::string printed;
    char buffer[256];
    DWORD got = 0;
    while (ReadFile(output.read.get(), buffer, sizeof buffer, &got, nullptr) && got != 0) {
        printed.append(buffer, got);
    }
    EXPECT_EQ(peer.wait_exit(10000), 0u);
    EXPECT_EQ(printed, "reply:from-peer");
    ASSERT_EQ(endpoint.clients().size(), 1u);
    EXPECT_EQ(endpoint.clients()[0], peer.id);
}

}  // namespace
