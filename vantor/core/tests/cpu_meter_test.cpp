#include <gtest/gtest.h>

#include "vantor/core/cpu_meter.h"
#include "vantor/core/exception.h"
#include "vantor/core/win_api.h"

namespace {

// 100-ns units per millisecond.
constexpr std::uint64_t ms = 10000;

vantor::cpu_snapshot at(std::uint64_t kernel_ms, std::uint64_t user_ms, std::uint64_t wall_ms)
{
    return vantor::cpu_snapshot{kernel_ms * ms, user_ms * ms, wall_ms * ms, 1};
}

TEST(cpu_meter, shares_between_two_snapshots)
{
    struct row {
        const char* label;
        vantor::cpu_snapshot older;
        vantor::cpu_snapshot newer;
        double kernel;
        double user;
    };
    vantor::cpu_snapshot process = at(100, 100, 2500);
    process.kind = 0;
    const row rows[] = {
        {"a quarter each", at(0, 0, 1000), at(125, 125, 1500), 0.25, 0.25},
        // 600 ms of work over 500 ms of wall time: elapsed is taken as 600 ms.
        {"more work than wall time", at(0, 0, 1000), at(200, 400, 1500), 200.0 / 600, 400.0 / 600},
        {"wall clock set back", at(0, 0, 2000), at(100, 100, 1500), 0.0, 0.0},
        {"kinds differ", at(0, 0, 1000), process, 0.0, 0.0},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.label);
        vantor::cpu_usage_meter meter(true);
        meter.add_snapshot_for_testing(1000, r.older);
        meter.add_snapshot_for_testing(1500, r.newer);
        double kernel = -1;
        double user = -1;
        ASSERT_TRUE(meter.compute(kernel, user));
        EXPECT_DOUBLE_EQ(kernel, r.kernel);
        EXPECT_DOUBLE_EQ(user, r.user);
        EXPECT_LE(kernel + user, 1.0 + 1e-12);
    }
}

TEST(cpu_meter, needs_a_snapshot_a_window_older_than_the_newest)
{
    vantor::bind_process_stats();
    vantor::cpu_usage_meter meter(true);
    double kernel = -1;
    double user = -1;
    EXPECT_FALSE(meter.compute(kernel, user));

    // Real snapshots of this thread; a second sample within 20 ms stores nothing.
    meter.sample(1000);
    meter.sample(1019);
    EXPECT_EQ(meter.snapshot_count(), 1u);
    meter.sample(1020);
    EXPECT_EQ(meter.snapshot_count(), 2u);
    meter.sample(1480);
    EXPECT_FALSE(meter.compute(kernel, user));
    EXPECT_EQ(kernel, -1);
    meter.sample(1500);
    EXPECT_TRUE(meter.compute(kernel, user));
    EXPECT_GE(kernel, 0.0);
    EXPECT_GE(user, 0.0);
    EXPECT_LE(kernel + user, 1.0 + 1e-12);
}

// Sampled every 25 ms for 100 s, the meter keeps only what it can still measure from, and the
// shares are those the full history gives.
TEST(cpu_meter, prunes_snapshots_it_can_no_longer_use)
{
    vantor::cpu_usage_meter pruned(true);
    vantor::cpu_usage_meter full(true);
    std::size_t most = 0;
    for (std::int64_t now = 0; now <= 100000; now += 25) {
        std::uint64_t t = static_cast<std::uint64_t>(now);
        vantor::cpu_snapshot s = at(t / 4, t / 8, t + 1);
        pruned.add_snapshot_for_testing(now, s);
        full.add_snapshot_for_testing(now, s);
        double k1 = 0;
        double u1 = 0;
        double k2 = 0;
        double u2 = 0;
        bool computed = pruned.compute(k1, u1);
        ASSERT_EQ(computed, full.compute(k2, u2));
        if (computed) {
            pruned.prune();
            ASSERT_DOUBLE_EQ(k1, k2);
            ASSERT_DOUBLE_EQ(u1, u2);
            ASSERT_TRUE(pruned.compute(k1, u1));
            ASSERT_DOUBLE_EQ(k1, k2);
        }
        most = std::max(most, pruned.snapshot_count());
    }
    EXPECT_LE(most, 500u / 20 + 2);
    EXPECT_EQ(full.snapshot_count(), 4001u);
}

TEST(cpu_meter, sampler_bounds_memory_with_real_snapshots)
{
    vantor::bind_process_stats();
    vantor::cpu_usage_meter meter(true);
    double kernel = 0;
    double user = 0;
    int computed = 0;
    for (std::int64_t now = 0; now <= 20000; now += 20) {
        computed += meter.sample_and_compute(now, kernel, user) ? 1 : 0;
        ASSERT_LE(meter.snapshot_count(), 500u / 20 + 2);
    }
    EXPECT_EQ(computed, (20000 - 500) / 20 + 1);
}

TEST(cpu_meter, sampler_measures_the_calling_thread)
{
    std::unique_ptr<vantor::cpu_usage_meter> meter = vantor::cpu_sampler::create();
    ASSERT_TRUE(meter);
    EXPECT_EQ(meter->snapshot_count(), 1u);
    double kernel = -1;
    double user = -1;
    EXPECT_FALSE(vantor::cpu_sampler::sample(*meter, kernel, user));
    // Busy for a little over one window, so that the shares are measured on real times.
    DWORD start = GetTickCount();
    volatile unsigned spin = 0;
    while (GetTickCount() - start < 600) {
        spin = spin + 1;
    }
    EXPECT_TRUE(vantor::cpu_sampler::sample(*meter, kernel, user));
    EXPECT_GE(kernel, 0.0);
    EXPECT_GT(kernel + user, 0.0);
    EXPECT_LE(kernel + user, 1.0 + 1e-12);
    vantor::cpu_sampler::destroy(meter);
    EXPECT_FALSE(meter);
    vantor::cpu_sampler::destroy(meter);
}

}  // namespace
