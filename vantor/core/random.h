#pragma once
// The process's random source (the host's when it offers one, else a locked MT19937) and the
// seeding of the runtime library's per-thread generator.
#include <cstdint>

namespace vantor {

// The standard 32-bit Mersenne Twister (MT19937): 624-word state, initialisation multiplier
// 1812433253, standard tempering. Its outputs equal those of std::mt19937 with the same seed. A
// generator used before it is seeded seeds itself with 5489. Not thread-safe.
class mersenne_twister {
public:
    static constexpr std::uint32_t default_seed = 5489u;

    void seed(std::uint32_t value) noexcept;
    std::uint32_t next() noexcept;

private:
    static constexpr int state_size = 624;

    void regenerate() noexcept;

    std::uint32_t state_[state_size];
    int index_ = 0;
    bool seeded_ = false;
};

// Seeds the process generator with the sum of the time in seconds, GetTickCount, the process id
// and the thread id. Run once by the foundation start.
void random_init();

// A number in 0 to 0x7fffffff: the host's random source when it offers one, else the process
// generator's next output shifted right by 1, drawn under the generator's lock. Any thread.
std::int32_t random();

// Seeds the process generator with a fixed value.
void seed_random_for_testing(std::uint32_t value);

// srand with the sum of the time in seconds, GetTickCount, the process id and the thread id. The
// runtime keeps this generator per thread, so each started thread seeds its own.
void seed_crt_rand();

}  // namespace vantor
