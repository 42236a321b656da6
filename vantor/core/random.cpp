#include "vantor/core/random.h"

#include <cstdlib>
#include <ctime>
#include <type_traits>

#include "vantor/core/host_hooks.h"
#include "vantor/core/locks.h"
#include "vantor/core/win_api.h"

namespace vantor {

void mersenne_twister::seed(std::uint32_t value) noexcept
{
    state_[0] = value;
    for (int i = 1; i < state_size; ++i) {
        std::uint32_t prev = state_[i - 1];
        state_[i] = 1812433253u * (prev ^ (prev >> 30)) + static_cast<std::uint32_t>(i);
    }
    index_ = state_size;
    seeded_ = true;
}

void mersenne_twister::regenerate() noexcept
{
    constexpr int shift = 397;
    constexpr std::uint32_t matrix = 0x9908b0dfu;
    constexpr std::uint32_t upper = 0x80000000u;
    constexpr std::uint32_t lower = 0x7fffffffu;
    for (int i = 0; i < state_size; ++i) {
        std::uint32_t y = (state_[i] & upper) | (state_[(i + 1) % state_size] & lower);
        std::uint32_t v = state_[(i + shift) % state_size] ^ (y >> 1);
        if ((y & 1u) != 0) {
            v ^= matrix;
        }
        state_[i] = v;
    }
    index_ = 0;
}

std::uint32_t mersenne_twister::next() noexcept
{
    if (!seeded_) {
        seed(default_seed);
    }
    if (index_ >= state_size) {
        regenerate();
    }
    std::uint32_t y = state_[index_++];
    y ^= y >> 11;
    y ^= (y << 7) & 0x9d2c5680u;
    y ^= (y << 15) & 0xefc60000u;
    y ^= y >> 18;
    return y;
}

namespace {

struct process_generator {
    lasting_critical_section lock;
    mersenne_twister generator;
};

static_assert(std::is_trivially_destructible_v<process_generator>);

process_generator& generator()
{
    // Trivially destructible, so nothing tears it down while threads still draw numbers as
    // the process ends.
    static process_generator g;
    return g;
}

std::uint32_t time_and_ids_seed()
{
    return static_cast<std::uint32_t>(std::time(nullptr)) + GetTickCount() + GetCurrentProcessId() +
           GetCurrentThreadId();
}

void seed_generator(std::uint32_t value)
{
    process_generator& g = generator();
    cs_lock guard(g.lock.get());
    g.generator.seed(value);
}

}  // namespace

void random_init()
{
    seed_generator(time_and_ids_seed());
}

void seed_random_for_testing(std::uint32_t value)
{
    seed_generator(value);
}

std::int32_t random()
{
    if (auto source = host().random; source != nullptr) {
        return source();
    }
    process_generator& g = generator();
    cs_lock guard(g.lock.get());
    return static_cast<std::int32_t>(g.generator.next() >> 1);
}

void seed_crt_rand()
{
    std::srand(time_and_ids_seed());
}

}  // namespace vantor
