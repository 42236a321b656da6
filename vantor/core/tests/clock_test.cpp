#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <ctime>

#include "vantor/core/clock.h"
#include "vantor/core/host_hooks.h"

namespace {

std::atomic<std::uint32_t> fake_tick{0};

std::uint32_t read_fake_tick()
{
    return fake_tick.load();
}

// Clears the host's clock entries for the test and puts the previous ones and the system's tick
// source back afterwards.
class clock_test : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved_ = vantor::host();
        vantor::host().monotonic_ms = nullptr;
        vantor::host().timestamp_ms = nullptr;
        vantor::host().wall_ms = nullptr;
    }
    void TearDown() override
    {
        vantor::set_tick_source_for_testing(nullptr);
        vantor::host().monotonic_ms = saved_.monotonic_ms;
        vantor::host().timestamp_ms = saved_.timestamp_ms;
        vantor::host().wall_ms = saved_.wall_ms;
    }

private:
    vantor::host_services saved_;
};

TEST_F(clock_test, tick_extension_absorbs_the_32_bit_wrap)
{
    struct step {
        const char* label;
        std::uint32_t from;
        std::uint32_t to;
        std::int64_t added;
    };
    const step steps[] = {
        {"wrap between two reads", 0xFFFFFFF0u, 0x00000010u, 32},
        {"plain advance", 1000u, 1250u, 250},
        {"no change", 77u, 77u, 0},
        {"wrap from the last value", 0xFFFFFFFFu, 0x00000000u, 1},
        {"almost a whole period", 0x00000010u, 0x0000000Fu, 0xFFFFFFFFll},
    };
    for (const step& s : steps) {
        SCOPED_TRACE(s.label);
        fake_tick = s.from;
        vantor::set_tick_source_for_testing(&read_fake_tick);
        std::int64_t before = vantor::monotonic_ms();
        fake_tick = s.to;
        EXPECT_EQ(vantor::monotonic_ms() - before, s.added);
        vantor::set_tick_source_for_testing(nullptr);
    }
}

TEST_F(clock_test, changing_the_tick_source_never_moves_the_clock_back)
{
    std::int64_t start = vantor::monotonic_ms();
    // A source far behind the system's tick: the clock continues from where it was.
    fake_tick = 5;
    vantor::set_tick_source_for_testing(&read_fake_tick);
    std::int64_t with_fake = vantor::monotonic_ms();
    EXPECT_GE(with_fake, start);
    fake_tick = 105;
    EXPECT_EQ(vantor::monotonic_ms(), with_fake + 100);
    vantor::set_tick_source_for_testing(nullptr);
    EXPECT_GE(vantor::monotonic_ms(), with_fake + 100);
}

std::int64_t __cdecl host_monotonic()
{
    return 111;
}
std::int64_t __cdecl host_timestamp()
{
    return 222;
}
std::int64_t __cdecl host_wall()
{
    return 333;
}

TEST_F(clock_test, host_clocks_replace_the_local_ones)
{
    vantor::host().monotonic_ms = &host_monotonic;
    vantor::host().timestamp_ms = &host_timestamp;
    vantor::host().wall_ms = &host_wall;
    EXPECT_EQ(vantor::monotonic_ms(), 111);
    EXPECT_EQ(vantor::now_ms(), 222);
    EXPECT_EQ(vantor::unix_time_ms(), 333);

    // The time stamp falls back to the local wall clock, which is still the host's.
    vantor::host().timestamp_ms = nullptr;
    EXPECT_EQ(vantor::now_ms(), 333);
}

TEST_F(clock_test, local_wall_clocks_count_from_1970)
{
    std::int64_t runtime_ms = static_cast<std::int64_t>(std::time(nullptr)) * 1000;
    // Both are read from the same system time; a few seconds cover a slow machine.
    EXPECT_NEAR(static_cast<double>(vantor::unix_time_ms()), static_cast<double>(runtime_ms), 5000.0);
    EXPECT_NEAR(static_cast<double>(vantor::now_ms()), static_cast<double>(runtime_ms), 5000.0);
}

}  // namespace
