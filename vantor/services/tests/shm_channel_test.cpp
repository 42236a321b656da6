#include "vantor/services/shm_channel.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "vantor/core/netbuf.h"
#include "vantor/core/win_api.h"
#include "vantor/services/shm_channel_block.h"

namespace {

using win_utils::channel_block;
using win_utils::mem_ipc;

struct ring_header {
    std::uint32_t magic;
    std::uint32_t capacity;
    std::uint32_t state;
    std::uint32_t read_count;
    std::uint32_t write_count;
};

void collect(void* context, const char* format, va_list args)
{
    char line[256];
    std::vsnprintf(line, sizeof line, format, args);
    static_cast<std::vector<std::string>*>(context)->push_back(line);
}

// One ring seen through two objects, as the two processes see it: the writer created it, the
// reader opened it from a block prepared for this same process.
class shm_ring_test : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (netbuf::table().create == nullptr) {
            netbuf::install_local_table();
        }
    }

    void open(std::uint32_t capacity)
    {
        writer_.set_log_callback(&collect, &lines_);
        reader_.set_log_callback(&collect, &lines_);
        ASSERT_TRUE(writer_.create_anonymous(capacity));
        channel_block block = empty_block();
        ASSERT_TRUE(writer_.prepare_for_process(GetCurrentProcess(), block));
        ASSERT_TRUE(reader_.open_from_block(block));
        ASSERT_EQ(reader_.capacity(), capacity);
    }

    static channel_block empty_block() { return win_utils::make_empty_descriptor().filler_writes; }

    ring_header* shared() { return static_cast<ring_header*>(writer_.header_for_testing()); }

    int write(const std::string& body, std::uint32_t tag = 7)
    {
        return writer_.write_message(tag, body.data(), static_cast<int>(body.size()));
    }

    std::string read(int expected_length)
    {
        std::string body(static_cast<std::size_t>(expected_length) + 16, '\0');
        std::uint32_t tag = 0;
        int n = reader_.read_message(tag, body.data(), static_cast<int>(body.size()));
        EXPECT_EQ(n, expected_length);
        body.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        return body;
    }

    // Whether another thread can take the ring's mutex: a read or write that kept it would
    // leave every other thread and process locked out.
    bool mutex_free_elsewhere()
    {
        bool taken = false;
        std::thread other([&] {
            DWORD r = WaitForSingleObject(reader_.mutex_for_testing(), 1000);
            if (r == WAIT_OBJECT_0 || r == WAIT_ABANDONED) {
                taken = true;
                ReleaseMutex(reader_.mutex_for_testing());
            }
        });
        other.join();
        return taken;
    }

    bool logged(const std::string& line) const
    {
        for (const std::string& l : lines_) {
            if (l == line) {
                return true;
            }
        }
        return false;
    }

    std::vector<std::string> lines_;
    mem_ipc writer_;
    mem_ipc reader_;
};

TEST_F(shm_ring_test, a_message_of_capacity_minus_eight_fits_one_more_byte_does_not)
{
    open(64);
    EXPECT_EQ(write(std::string(57, 'x')), -1);
    EXPECT_EQ(GetLastError(), win_utils::shm_error_too_large);
    EXPECT_EQ(write(std::string(56, 'y')), 56);
    EXPECT_EQ(read(56), std::string(56, 'y'));
}

TEST_F(shm_ring_test, records_that_wrap_around_the_end_read_back_intact)
{
    open(64);
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        std::string body;
        for (int i = 0; i < 21 + round % 7; ++i) {
            body.push_back(static_cast<char>('a' + (round + i) % 26));
        }
        ASSERT_EQ(write(body, static_cast<std::uint32_t>(round)), static_cast<int>(body.size()));
        std::uint32_t tag = 0;
        char buffer[64];
        ASSERT_EQ(reader_.read_message(tag, buffer, sizeof buffer), static_cast<int>(body.size()));
        EXPECT_EQ(std::string(buffer, body.size()), body);
        EXPECT_EQ(tag, static_cast<std::uint32_t>(round));
    }
}

TEST_F(shm_ring_test, counts_wrap_at_two_to_the_32)
{
    open(64);
    shared()->read_count = 0xFFFFFFF0u;
    shared()->write_count = 0xFFFFFFF0u;
    ASSERT_EQ(write("0123456789abcdefghij"), 20);
    EXPECT_EQ(shared()->write_count, 12u);
    EXPECT_EQ(read(20), "0123456789abcdefghij");
}

TEST_F(shm_ring_test, empty_bodies_and_an_empty_ring)
{
    open(64);
    std::uint32_t tag = 99;
    char buffer[8];
    EXPECT_EQ(reader_.read_message(tag, buffer, sizeof buffer), 0);
    EXPECT_EQ(tag, 99u);
    EXPECT_EQ(WaitForSingleObject(reader_.data_ready_event(), 0), static_cast<DWORD>(WAIT_TIMEOUT));

    ASSERT_EQ(writer_.write_message(5, nullptr, 0), 0);
    EXPECT_EQ(WaitForSingleObject(reader_.data_ready_event(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(reader_.read_message(tag, buffer, sizeof buffer), 0);
    EXPECT_EQ(tag, 5u);

    ASSERT_EQ(writer_.write_message(0xFFFFFFFFu, "text", -1), 4);
    EXPECT_EQ(reader_.read_message(tag, buffer, sizeof buffer), 4);
    EXPECT_EQ(tag, GetCurrentProcessId());
}

TEST_F(shm_ring_test, a_small_buffer_leaves_the_message_and_read_netbuf_takes_it_whole)
{
    open(1024);
    std::string body(200, 'q');
    body[199] = 'z';
    ASSERT_EQ(write(body, 3), 200);
    std::uint32_t tag = 0;
    char small[128];
    EXPECT_EQ(reader_.read_message(tag, small, sizeof small), -2);
    EXPECT_EQ(tag, 200u);
    EXPECT_TRUE(mutex_free_elsewhere());

    mem_ipc::message message;
    EXPECT_EQ(reader_.read_netbuf(message), 200);
    EXPECT_EQ(message.tag, 3u);
    EXPECT_EQ(message.data.to_string(), body);
}

TEST_F(shm_ring_test, after_a_close_pending_messages_are_read_then_the_ring_reports_closed)
{
    open(256);
    ASSERT_EQ(write("last words"), 10);
    writer_.close();
    EXPECT_FALSE(reader_.ring_open());
    EXPECT_EQ(WaitForSingleObject(reader_.data_ready_event(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(read(10), "last words");
    std::uint32_t tag = 0;
    char buffer[16];
    EXPECT_EQ(reader_.read_message(tag, buffer, sizeof buffer), -1);
    EXPECT_TRUE(logged("ipc closed"));
    EXPECT_TRUE(mutex_free_elsewhere());
    EXPECT_EQ(reader_.write_message(1, "x", 1), -1);
    EXPECT_EQ(GetLastError(), win_utils::shm_error_closed);
}

TEST_F(shm_ring_test, a_writer_waiting_for_room_wakes_when_the_reader_closes)
{
    open(64);
    ASSERT_EQ(write(std::string(40, 'a')), 40);
    int result = 0;
    std::thread blocked([&] { result = write(std::string(40, 'b')); });
    Sleep(100);
    reader_.close();
    blocked.join();
    EXPECT_EQ(result, -1);
}

// Every way out of a read releases the mutex, also for a ring whose counts were corrupted.
TEST_F(shm_ring_test, every_failing_read_releases_the_mutex)
{
    struct row {
        const char* label;
        std::uint32_t read_count;
        std::uint32_t write_count;
        std::uint32_t length_field;  // written at the read position
        const char* line;
    };
    const row rows[] = {
        {"more used than the capacity", 0, 65, 0, "ipc buffer currupt"},
        {"a partial record header", 0, 5, 0, "expecting ipc header"},
        {"a length beyond the capacity", 0, 8, 57, "invalid message size - too small buffer"},
        {"a length beyond what was written", 0, 12, 10, "invalid message size - not written to buffer"},
    };
    open(64);
    for (const row& r : rows) {
        SCOPED_TRACE(r.label);
        lines_.clear();
        std::uint8_t* data =
            static_cast<std::uint8_t*>(writer_.header_for_testing()) + win_utils::shm_header_size;
        std::memcpy(data + 4, &r.length_field, 4);
        shared()->read_count = r.read_count;
        shared()->write_count = r.write_count;
        std::uint32_t tag = 0;
        char buffer[64];
        EXPECT_EQ(reader_.read_message(tag, buffer, sizeof buffer), -1);
        EXPECT_TRUE(logged(r.line));
        EXPECT_EQ(shared()->read_count, r.read_count);
        EXPECT_TRUE(mutex_free_elsewhere());
    }
}

TEST_F(shm_ring_test, capacities_that_cannot_wrap_are_refused)
{
    mem_ipc ring;
    for (std::uint32_t capacity : {0u, 8u, 100u, 3000u, 0x80000000u}) {
        SCOPED_TRACE(capacity);
        EXPECT_FALSE(ring.create_anonymous(capacity));
    }
    open(64);
    mem_ipc other;
    other.set_log_callback(&collect, &lines_);
    channel_block block = empty_block();
    ASSERT_TRUE(writer_.prepare_for_process(GetCurrentProcess(), block));
    shared()->capacity = 48;
    EXPECT_FALSE(other.open_from_block(block));
    EXPECT_TRUE(logged("mem_ipc invalid size 30"));
}

TEST_F(shm_ring_test, blocks_with_a_broken_guard_or_a_wrong_handle_type_are_refused)
{
    open(64);
    channel_block good = empty_block();
    ASSERT_TRUE(writer_.prepare_for_process(GetCurrentProcess(), good));
    EXPECT_TRUE(win_utils::is_valid_block(good));

    channel_block guard = good;
    guard.guard_tail[1] = 0;
    channel_block swapped = good;
    swapped.data_ready = good.mutex;
    channel_block unprepared = good;
    unprepared.state = 0;
    for (const channel_block* bad : {&guard, &swapped, &unprepared}) {
        mem_ipc other;
        EXPECT_FALSE(other.open_from_block(*bad));
    }
    EXPECT_TRUE(win_utils::handle_type_is(GetCurrentProcess(), L"Process"));
    EXPECT_FALSE(win_utils::handle_type_is(GetCurrentProcess(), L"Proc"));
}

}  // namespace
