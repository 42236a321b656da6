#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "vantor/core/netbuf.h"
#include "vantor/core/netbuf_cache.h"
#include "vantor/core/netbuf_local.h"

namespace {

std::vector<void*> take(vantor::simple_item_cache& cache, std::size_t n)
{
    std::vector<void*> blocks;
    for (std::size_t i = 0; i < n; ++i) {
        void* b = cache.get();
        if (b == nullptr) {
            break;
        }
        blocks.push_back(b);
    }
    return blocks;
}

void give_back(vantor::simple_item_cache& cache, std::vector<void*>& blocks)
{
    for (void* b : blocks) {
        cache.put(b);
    }
    blocks.clear();
}

TEST(netbuf_cache, blocks_are_whole_distinct_and_reused)
{
    vantor::simple_item_cache cache(64, 8, 4, 0);
    std::vector<void*> blocks = take(cache, 8);
    ASSERT_EQ(blocks.size(), 8u);
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        std::memset(blocks[i], static_cast<int>(i + 1), 64);
    }
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        const auto* p = static_cast<const unsigned char*>(blocks[i]);
        EXPECT_TRUE(std::all_of(p, p + 64, [&](unsigned char c) { return c == i + 1; })) << i;
    }
    auto s = cache.statistics();
    EXPECT_EQ(s.batches, 1u);
    EXPECT_EQ(s.free_blocks, 0u);

    give_back(cache, blocks);
    blocks = take(cache, 8);
    s = cache.statistics();
    EXPECT_EQ(s.batches, 1u);  // the same batch serves again
    EXPECT_EQ(s.total_blocks, 8u);
    give_back(cache, blocks);
}

TEST(netbuf_cache, exhausted_cache_gives_none_until_a_block_returns)
{
    vantor::simple_item_cache cache(32, 4, 2, 0);
    std::vector<void*> blocks = take(cache, 100);
    EXPECT_EQ(blocks.size(), 8u);
    EXPECT_EQ(cache.get(), nullptr);
    cache.put(blocks.back());
    blocks.back() = cache.get();
    EXPECT_NE(blocks.back(), nullptr);
    EXPECT_EQ(cache.statistics().batches_allowed, 0);
    give_back(cache, blocks);
}

// After a burst the cache keeps at most its retention bound of free batches, and what it gave
// back may be made again.
TEST(netbuf_cache, memory_goes_back_after_a_burst)
{
    const std::size_t per_batch = 10;
    vantor::simple_item_cache cache(128, per_batch, 1000, 2 * per_batch * (128 + sizeof(void*)) + 256);
    const std::size_t bound = cache.statistics().retained_bytes_bound;
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        std::vector<void*> blocks = take(cache, 5000);
        ASSERT_EQ(blocks.size(), 5000u);
        EXPECT_EQ(cache.statistics().batches, 500u);
        // Returned in a scattered order, as buffers of a burst end.
        std::shuffle(blocks.begin(), blocks.end(), std::mt19937(17));
        give_back(cache, blocks);
        const auto s = cache.statistics();
        EXPECT_LE(s.held_bytes, bound);
        EXPECT_EQ(s.batches, 2u);
        EXPECT_EQ(s.free_blocks, s.total_blocks);
        EXPECT_EQ(s.batches_allowed, 1000 - 2);
    }
}

TEST(netbuf_cache, a_block_in_use_holds_only_its_batch)
{
    const std::size_t per_batch = 10;
    vantor::simple_item_cache cache(128, per_batch, 1000, 0);  // one batch retained
    std::vector<void*> blocks = take(cache, 100);
    void* kept = blocks.front();
    blocks.erase(blocks.begin());
    give_back(cache, blocks);
    auto s = cache.statistics();
    EXPECT_EQ(s.batches, 1u);  // the free blocks beside the kept one already fill the bound
    EXPECT_EQ(s.free_blocks, per_batch - 1);
    cache.put(kept);
    s = cache.statistics();
    EXPECT_EQ(s.batches, 1u);
    EXPECT_EQ(s.free_blocks, s.total_blocks);
}

TEST(netbuf_cache, threads_never_share_a_block)
{
    vantor::simple_item_cache cache(64, 16, 1000, 0);
    std::atomic<int> clashes{0};
    std::vector<std::thread> threads;
    for (int id = 1; id <= 4; ++id) {
        threads.emplace_back([&, id] {
            std::vector<void*> held;
            for (int i = 0; i < 20000; ++i) {
                void* b = cache.get();
                std::memset(b, id, 64);
                held.push_back(b);
                if (held.size() > static_cast<std::size_t>(i % 40)) {
                    for (void* h : held) {
                        const auto* p = static_cast<const unsigned char*>(h);
                        if (p[0] != id || p[63] != id) {
                            ++clashes;
                        }
                        cache.put(h);
                    }
                    held.clear();
                }
            }
            for (void* h : held) {
                cache.put(h);
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    EXPECT_EQ(clashes.load(), 0);
    const auto s = cache.statistics();
    EXPECT_EQ(s.free_blocks, s.total_blocks);
}

// The local implementation's 512-byte class after twenty thousand small buffers end.
TEST(netbuf_cache, local_buffers_give_memory_back_after_a_burst)
{
    const netbuf_api saved = netbuf::swap_table_for_testing(netbuf_api{});
    netbuf_imp::local_table().init_caches(0, 1);
    netbuf_imp::set_caches_for_testing(true);
    ASSERT_TRUE(netbuf::install_table(&netbuf_imp::local_table()));
    {
        const auto before = netbuf_imp::cache_stats_for_testing(1);
        std::vector<netbuf> burst;
        burst.reserve(20000);
        for (int i = 0; i < 20000; ++i) {
            burst.push_back(netbuf::construct_from_string("ten bytes!"));
        }
        const auto peak = netbuf_imp::cache_stats_for_testing(1);
        EXPECT_GE(peak.held_bytes, 20000u * 512u);
        burst.clear();
        const auto after = netbuf_imp::cache_stats_for_testing(1);
        EXPECT_LE(after.held_bytes, before.held_bytes + after.retained_bytes_bound);
        EXPECT_LE(after.retained_bytes_bound, 2 * netbuf_imp::cache_retain_bytes);
    }
    netbuf::swap_table_for_testing(saved);
}

}  // namespace
