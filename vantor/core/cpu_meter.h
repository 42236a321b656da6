#pragma once
// CPU usage of the calling thread (or of the process) over a sliding window, from snapshots of
// its kernel and user times. The encoder throttles its updates with it.
//
// A meter has no lock: it is created, sampled and destroyed on one thread (with thread
// measurement it measures whichever thread samples it).
#include <cstdint>
#include <memory>

#include "vantor/core/map.h"

namespace vantor {

// Times in 100-ns units; wall is the system time (since 1601) read right after the two times.
struct cpu_snapshot {
    std::uint64_t kernel;
    std::uint64_t user;
    std::uint64_t wall;
    std::int32_t kind;  // 1: the calling thread's times, 0: the process's
};

// Binds GetProcessTimes and GetThreadTimes from "kernel32.dll" once (the foundation start does
// it; later calls do nothing). A missing function stays unbound. Never raises.
void bind_process_stats() noexcept;

// The calling thread's (thread true) or the process's times now. Raises internal error 1346
// (thread) or 1373 (process) when they cannot be read.
cpu_snapshot take_cpu_snapshot(bool thread);

struct cpu_deltas {
    std::uint64_t kernel;
    std::uint64_t user;
    std::uint64_t elapsed;
};

// The growth from `older` to `newer`: all 0 when the kinds differ or the wall time did not
// advance; the elapsed time is at least kernel + user, so the two shares add up to at most 1.
cpu_deltas cpu_snapshot_deltas(const cpu_snapshot& older, const cpu_snapshot& newer) noexcept;

class cpu_usage_meter {
public:
    static constexpr std::uint64_t default_window_ms = 500;
    // Samples closer than this to the newest snapshot are not stored.
    static constexpr std::int64_t min_gap_ms = 20;

    // mode 2 discards one outdated snapshot per prune, any other mode all of them.
    explicit cpu_usage_meter(bool thread, std::uint64_t window_ms = default_window_ms,
                             std::uint32_t mode = 0);

    // Takes a snapshot at `now_ms` of the monotonic clock (now when not given) unless the newest
    // one is less than min_gap_ms old. Raises as take_cpu_snapshot.
    void sample();
    void sample(std::int64_t now_ms);

    // The kernel and user shares (1.0 = one processor fully busy) between the newest snapshot
    // and the newest one at least the window before it; false, outputs untouched, when there is
    // no such pair.
    bool compute(double& kernel_share, double& user_share) const;

    // Discards the snapshots older than the one compute measures from; compute can never use
    // them again, because the newest snapshot only moves forward. This keeps the meter at most
    // window / min_gap_ms + 2 snapshots.
    void prune();

    // sample(now_ms), compute and, when that computed, prune.
    bool sample_and_compute(std::int64_t now_ms, double& kernel_share, double& user_share);

    std::size_t snapshot_count() const noexcept { return snapshots_.size(); }
    void add_snapshot_for_testing(std::int64_t at_ms, const cpu_snapshot& snapshot);

private:
    // The snapshot compute measures from, or end.
    vantor_stl::map<std::int64_t, cpu_snapshot>::const_iterator window_start() const;

    std::uint64_t window_ms_;
    bool thread_;
    vantor_stl::map<std::int64_t, cpu_snapshot> snapshots_;
    std::uint32_t mode_;
};

// The three calls the encoder makes.
namespace cpu_sampler {

// A thread meter with a 500 ms window and its first snapshot. Raises as take_cpu_snapshot.
std::unique_ptr<cpu_usage_meter> create();

// Samples and computes (see cpu_usage_meter::sample_and_compute) at the monotonic clock's now.
bool sample(cpu_usage_meter& meter, double& kernel_share, double& user_share);

// Frees the meter and its snapshots; an empty pointer is ignored.
void destroy(std::unique_ptr<cpu_usage_meter>& meter) noexcept;

}  // namespace cpu_sampler
}  // namespace vantor
