#include "vantor/services/shm_channel_pair.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "vantor/core/netbuf.h"
#include "vantor/core/win_api.h"
#include "vantor/services/tests/pipe_peer_process.h"

namespace {

using win_utils::mem_ipc;

void collect(void* context, const char* format, va_list args)
{
    char line[256];
    std::vsnprintf(line, sizeof line, format, args);
    static_cast<std::vector<std::string>*>(context)->push_back(line);
}

bool contains(const std::vector<std::string>& lines, const std::string& line)
{
    for (const std::string& l : lines) {
        if (l == line) {
            return true;
        }
    }
    return false;
}

// Capacities of the rings in the exchange: small, so that the megabytes wrap both rings many
// times and writers wait for room.
constexpr std::uint32_t our_read_capacity = 32768;
constexpr std::uint32_t our_write_capacity = 16384;
constexpr std::uint32_t largest_message = 6000;
constexpr int message_count = 1200;  // about 3.6 MB each way
constexpr std::uint32_t seed = 20240611;

std::string body_of(int index, std::uint32_t size)
{
    std::string body(size, '\0');
    for (std::uint32_t k = 0; k < size; ++k) {
        body[k] = static_cast<char>((static_cast<std::uint32_t>(index) * 131u + k * 7u + (k >> 8)) & 0xFF);
    }
    return body;
}

class shm_pair_test : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (netbuf::table().create == nullptr) {
            netbuf::install_local_table();
        }
    }

    void SetUp() override { channel_.set_log_callback(&collect, &lines_); }

    // Sends the messages from a second thread while this one reads the peer's echoes, checks
    // every echo, then closes the own write ring and expects the peer to close its ring, which
    // must wake this side, and to exit cleanly.
    void exchange_with_peer()
    {
        mem_ipc& out = channel_.write_ring();
        mem_ipc& in = channel_.read_ring();
        int write_failures = 0;
        std::thread writer([&] {
            std::mt19937 sizes(seed);
            for (int i = 0; i < message_count; ++i) {
                std::string body = body_of(i, sizes() % (largest_message + 1));
                if (out.write_message(static_cast<std::uint32_t>(i), body.data(),
                                      static_cast<int>(body.size())) != static_cast<int>(body.size())) {
                    ++write_failures;
                }
            }
        });

        std::mt19937 sizes(seed);
        int received = 0;
        std::size_t bytes = 0;
        while (received < message_count) {
            if (WaitForSingleObject(in.data_ready_event(), 10000) != WAIT_OBJECT_0) {
                ADD_FAILURE() << "no echo after message " << received;
                break;
            }
            for (;;) {
                mem_ipc::message message;
                message.tag = 0xFFFFFFFFu;
                int n = in.read_netbuf(message);
                ASSERT_GE(n, 0) << "read failed after message " << received;
                if (n == 0 && message.tag == 0xFFFFFFFFu) {
                    break;
                }
                ASSERT_EQ(message.tag, static_cast<std::uint32_t>(received));
                ASSERT_EQ(message.data.to_string(), body_of(received, sizes() % (largest_message + 1)))
                    << "message " << received;
                bytes += static_cast<std::size_t>(n);
                ++received;
            }
        }
        writer.join();
        EXPECT_EQ(write_failures, 0);
        EXPECT_EQ(received, message_count);
        EXPECT_GT(bytes, 3u * 1000 * 1000);

        // The peer sees the close once it has drained its ring, closes its own ring, which sets
        // the event this side waits on, and exits.
        out.close();
        EXPECT_EQ(WaitForSingleObject(in.data_ready_event(), 10000), WAIT_OBJECT_0);
        EXPECT_EQ(peer_.wait_exit(10000), 0u);
        EXPECT_FALSE(in.ring_open());
        std::uint32_t tag = 0;
        char buffer[16];
        EXPECT_EQ(in.read_message(tag, buffer, sizeof buffer), -1);
    }

    std::vector<std::string> lines_;
    mem_ipc::pair channel_;
    peer_test::peer_process peer_;
};

TEST_F(shm_pair_test, hand_over_on_standard_input_and_exchange_megabytes)
{
    peer_test::inheritable_pipe input(true);
    ASSERT_TRUE(input.read.valid());
    peer_ = peer_test::start_peer(L"ring_peer.exe", L"stdin", input.read.get(), nullptr);
    ASSERT_TRUE(peer_.process.valid());
    input.read.reset();
    ASSERT_TRUE(channel_.read_ring().create_anonymous(our_read_capacity));
    ASSERT_TRUE(channel_.write_ring().create_anonymous(our_write_capacity));
    ASSERT_TRUE(channel_.send_descriptor(peer_.process.get(), input.write.get()));
    exchange_with_peer();
}

TEST_F(shm_pair_test, hand_over_through_the_parents_memory_and_exchange_megabytes)
{
    bool opened = channel_.wait_open([this](void* buffer) {
        std::wstring arguments = L"push " + std::to_wstring(GetCurrentProcessId()) + L" " +
                                 std::to_wstring(reinterpret_cast<std::uintptr_t>(buffer)) + L" " +
                                 std::to_wstring(our_write_capacity) + L" " +
                                 std::to_wstring(our_read_capacity);
        peer_ = peer_test::start_peer(L"ring_peer.exe", arguments, nullptr, nullptr);
        return peer_.process.valid();
    });
    ASSERT_TRUE(opened);
    EXPECT_EQ(channel_.read_ring().capacity(), our_read_capacity);
    EXPECT_EQ(channel_.write_ring().capacity(), our_write_capacity);
    exchange_with_peer();
}

TEST_F(shm_pair_test, open_from_pipe_gives_up_on_a_silent_or_closed_pipe)
{
    peer_test::inheritable_pipe silent(true);
    EXPECT_FALSE(channel_.open_from_pipe_for_testing(silent.read.get(), 200));
    EXPECT_TRUE(contains(lines_, "ipc pipe read timeout"));

    silent.write.reset();
    EXPECT_FALSE(channel_.open_from_pipe(silent.read.get()));
    EXPECT_TRUE(contains(lines_, "ipc pipe peek failed [0x6d]"));
}

TEST_F(shm_pair_test, a_descriptor_with_a_broken_guard_is_refused)
{
    mem_ipc::pair creator;
    ASSERT_TRUE(creator.read_ring().create_anonymous(64));
    ASSERT_TRUE(creator.write_ring().create_anonymous(64));
    peer_test::inheritable_pipe pipe(true);
    ASSERT_TRUE(creator.send_descriptor(GetCurrentProcess(), pipe.write.get()));
    win_utils::channel_descriptor descriptor{};
    DWORD got = 0;
    ASSERT_TRUE(ReadFile(pipe.read.get(), &descriptor, sizeof descriptor, &got, nullptr));
    descriptor.filler_writes.guard_head[1] = 0;
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(pipe.write.get(), &descriptor, sizeof descriptor, &written, nullptr));
    EXPECT_FALSE(channel_.open_from_pipe(pipe.read.get()));
    EXPECT_TRUE(contains(lines_, "invalid ipc pipe descriptor"));
}

TEST_F(shm_pair_test, the_memory_hand_over_refuses_a_failed_launch_and_a_used_buffer)
{
    EXPECT_FALSE(channel_.wait_open([](void*) { return false; }));
    EXPECT_FALSE(contains(lines_, "anon waiting on our buffer"));

    mem_ipc::pair child;
    child.set_log_callback(&collect, &lines_);
    ASSERT_TRUE(child.read_ring().create_anonymous(64));
    ASSERT_TRUE(child.write_ring().create_anonymous(64));
    win_utils::channel_descriptor used = win_utils::make_empty_descriptor();
    used.state = win_utils::descriptor_complete;
    EXPECT_FALSE(child.prepare_push(GetCurrentProcess(), reinterpret_cast<std::uintptr_t>(&used)));
    EXPECT_TRUE(contains(lines_, "invalid ipc space provided"));

    win_utils::channel_descriptor fresh = win_utils::make_empty_descriptor();
    ASSERT_TRUE(child.prepare_push(GetCurrentProcess(), reinterpret_cast<std::uintptr_t>(&fresh)));
    EXPECT_TRUE(win_utils::is_valid_descriptor(fresh));
}

}  // namespace
