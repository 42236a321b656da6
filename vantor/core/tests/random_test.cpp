#include <gtest/gtest.h>

#include <cstdint>
#include <random>

#include "vantor/core/host_hooks.h"
#include "vantor/core/random.h"

namespace {

TEST(mersenne_twister, matches_the_standard_generator)
{
    // 2000 outputs cross two regenerations of the 624-word state.
    for (std::uint32_t seed : {0u, 1u, 5489u, 0x12345678u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(seed);
        vantor::mersenne_twister ours;
        ours.seed(seed);
        std::mt19937 reference(seed);
        for (int i = 0; i < 2000; ++i) {
            ASSERT_EQ(ours.next(), reference()) << "output " << i;
        }
    }
}

TEST(mersenne_twister, unseeded_generator_uses_5489)
{
    vantor::mersenne_twister ours;
    std::mt19937 reference(5489u);
    for (int i = 0; i < 700; ++i) {
        ASSERT_EQ(ours.next(), reference()) << "output " << i;
    }
}

TEST(random, local_source_is_the_generator_shifted_and_never_negative)
{
    vantor::seed_random_for_testing(77);
    std::mt19937 reference(77);
    for (int i = 0; i < 1000; ++i) {
        std::int32_t v = vantor::random();
        ASSERT_GE(v, 0);
        ASSERT_EQ(static_cast<std::uint32_t>(v), reference() >> 1) << "output " << i;
    }
    vantor::random_init();
    for (int i = 0; i < 1000; ++i) {
        ASSERT_GE(vantor::random(), 0);
    }
}

std::int32_t __cdecl host_random()
{
    return 1234;
}

TEST(random, host_source_takes_over)
{
    auto saved = vantor::host().random;
    vantor::host().random = host_random;
    EXPECT_EQ(vantor::random(), 1234);
    vantor::host().random = saved;
}

}  // namespace
