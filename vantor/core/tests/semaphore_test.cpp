#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <thread>

#include "vantor/core/exception.h"
#include "vantor/core/semaphore.h"
#include "vantor/core/win_api.h"

namespace {

constexpr std::int64_t int64_max = std::numeric_limits<std::int64_t>::max();

TEST(semaphore, zero_wait_reports_the_count)
{
    vantor::semaphore s(1, 0);
    EXPECT_FALSE(s.wait_ms(0));
    s.release();
    EXPECT_TRUE(s.wait_ms(0));
    EXPECT_FALSE(s.wait_ms(0));  // the successful wait took the count
    EXPECT_FALSE(s.wait_ms(-5));
    EXPECT_FALSE(s.wait_seconds(-1));
}

TEST(semaphore, release_beyond_the_maximum_raises)
{
    vantor::semaphore s(1, 1);
    try {
        s.release();
        FAIL() << "no exception";
    } catch (const vantor::exception& e) {
        EXPECT_NE(std::string(e.what()).find("ReleaseSemaphore"), std::string::npos) << e.what();
    }
    EXPECT_TRUE(s.wait_ms(0));
}

TEST(semaphore, bad_arguments_raise_from_create)
{
    try {
        vantor::semaphore s(1, 2);
        FAIL() << "no exception";
    } catch (const vantor::exception& e) {
        EXPECT_NE(std::string(e.what()).find("CreateSemaphoreW"), std::string::npos) << e.what();
    }
}

TEST(wait_time, long_waits_are_cut_into_finite_chunks)
{
    struct row {
        std::int64_t remaining;
        std::uint32_t chunk;
    };
    for (row r :
         {row{-5, 0}, row{0, 0}, row{1, 1}, row{0xFFFFFFFELL, 0xFFFFFFFEu}, row{0xFFFFFFFFLL, 0xFFFFFFFEu},
          row{0x100000001LL, 0xFFFFFFFEu}, row{int64_max, 0xFFFFFFFEu}}) {
        SCOPED_TRACE(r.remaining);
        EXPECT_EQ(vantor::wait_time::next_chunk_ms(r.remaining), r.chunk);
    }
}

TEST(wait_time, seconds_become_milliseconds_without_overflow)
{
    struct row {
        std::int64_t seconds;
        std::int64_t ms;
    };
    for (row r : {row{-1, 0}, row{0, 0}, row{5, 5000}, row{int64_max / 1000, int64_max / 1000 * 1000},
                  row{int64_max / 1000 + 1, int64_max}, row{int64_max, int64_max}}) {
        SCOPED_TRACE(r.seconds);
        EXPECT_EQ(vantor::wait_time::seconds_to_ms(r.seconds), r.ms);
    }
}

// Time-outs whose low 32 bits are short (or INFINITE) must still wait for the release that
// comes later: truncated to 32 bits they would have returned false at once, or waited forever.
TEST(semaphore, long_time_outs_wait_for_a_later_release)
{
    struct row {
        const char* label;
        bool seconds;
        std::int64_t value;
    };
    for (row r : {row{"0x100000001 ms", false, 0x100000001LL}, row{"0x100000000 ms", false, 0x100000000LL},
                  row{"INFINITE ms", false, 0xFFFFFFFFLL}, row{"seconds overflowing", true, int64_max / 100},
                  row{"2^32 s", true, 0x100000000LL}}) {
        SCOPED_TRACE(r.label);
        vantor::semaphore s(1, 0);
        std::thread releaser([&] {
            Sleep(100);
            s.release();
        });
        bool got = r.seconds ? s.wait_seconds(r.value) : s.wait_ms(r.value);
        releaser.join();
        EXPECT_TRUE(got);
        EXPECT_FALSE(s.wait_ms(0));
    }
}

}  // namespace
