// Throughput of the executors: serial-queue tasks per second posted from one and from four
// threads (checked to run in each poster's order), and thread-pool jobs per second. Prints
// figures; asserts nothing about time.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <thread>
#include <vector>

#include "vantor/core/default_executor.h"
#include "vantor/core/semaphore.h"
#include "vantor/core/serial_queue.h"
#include "vantor/core/thread_pool.h"

namespace {

using clock_type = std::chrono::steady_clock;

// Shared by the jobs of one measurement. A job's argument encodes its poster and sequence.
struct run_state {
    explicit run_state(int posters_, int total_) : posters(posters_), total(total_), last(posters_, -1) {}

    int posters;
    int total;
    std::vector<int> last;  // touched only by serial jobs
    std::atomic<int> runs{0};
    std::atomic<int> out_of_order{0};
    vantor::semaphore finished{1, 0};
};

run_state* current = nullptr;

constexpr int sequence_bits = 24;

void* encode(int poster, int sequence)
{
    return reinterpret_cast<void*>((static_cast<std::uintptr_t>(poster) << sequence_bits) |
                                   static_cast<std::uintptr_t>(sequence));
}

void __cdecl serial_run(void* arg)
{
    auto value = reinterpret_cast<std::uintptr_t>(arg);
    int poster = static_cast<int>(value >> sequence_bits);
    int sequence = static_cast<int>(value & ((1u << sequence_bits) - 1));
    if (current->last[static_cast<std::size_t>(poster)] + 1 != sequence) {
        ++current->out_of_order;
    }
    current->last[static_cast<std::size_t>(poster)] = sequence;
    if (current->runs.fetch_add(1) + 1 == current->total) {
        current->finished.release();
    }
}

void __cdecl pool_run(void*)
{
    if (current->runs.fetch_add(1) + 1 == current->total) {
        current->finished.release();
    }
}

// Posts `total` jobs split over `posters` threads and returns jobs per second, measured from the
// first post to the last run.
double measure(vantor::executor_handle target, int posters, int total, vantor::job_fn run, int& out_of_order)
{
    run_state state(posters, total);
    current = &state;
    int per_poster = total / posters;
    clock_type::time_point start = clock_type::now();
    std::vector<std::thread> threads;
    for (int p = 0; p < posters; ++p) {
        threads.emplace_back([=] {
            for (int s = 0; s < per_poster; ++s) {
                target.post_job(run, nullptr, encode(p, s));
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    if (!state.finished.wait_ms(120000)) {
        std::printf("  timed out after %d of %d jobs\n", state.runs.load(), total);
    }
    double seconds = std::chrono::duration<double>(clock_type::now() - start).count();
    out_of_order = state.out_of_order.load();
    current = nullptr;
    return total / seconds;
}

}  // namespace

int main()
{
    constexpr int jobs = 400000;
    std::printf("executor throughput, %d jobs per run\n", jobs);

    vantor::serial_queue queue(vantor::default_executor());
    for (int posters : {1, 4}) {
        int out_of_order = 0;
        double rate = measure(queue.executor(), posters, jobs, &serial_run, out_of_order);
        std::printf("serial queue on the default pool, %d poster(s): %.0f tasks/s (out of order: %d)\n",
                    posters, rate, out_of_order);
    }

    unsigned cores = std::thread::hardware_concurrency();
    int workers = cores == 0 ? 4 : static_cast<int>(cores);
    vantor::refc_obj<vantor::thread_pool> pool = vantor::thread_pool::create(workers, 5000);
    for (int posters : {1, 4}) {
        int unused = 0;
        double rate = measure(pool->executor(), posters, jobs, &pool_run, unused);
        std::printf("thread pool (%d workers), %d poster(s): %.0f jobs/s\n", workers, posters, rate);
    }
    return 0;
}
