#include "vantor/core/cpu_meter.h"

#include <atomic>

#include "vantor/core/clock.h"
#include "vantor/core/exception.h"
#include "vantor/core/sysinfo_library.h"
#include "vantor/core/win_api.h"

namespace vantor {
namespace {

using get_times_fn = BOOL(WINAPI*)(HANDLE, FILETIME*, FILETIME*, FILETIME*, FILETIME*);

// Written by the binding, read by every snapshot.
std::atomic<get_times_fn> get_process_times{nullptr};
std::atomic<get_times_fn> get_thread_times{nullptr};

std::uint64_t ticks(const FILETIME& t) noexcept
{
    return (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

void bind_one(HMODULE module, const char* name, std::atomic<get_times_fn>& out) noexcept
{
    try {
        get_times_fn f = nullptr;
        bind_proc(module, name, f);
        out.store(f);
    } catch (...) {
        // A missing function stays unbound; snapshots then report the internal error.
    }
}

}  // namespace

void bind_process_stats() noexcept
{
    if (get_process_times.load() != nullptr) {
        return;
    }
    // kernel32 is mapped into every process; the extra load reference is never dropped.
    HMODULE kernel32 = LoadLibraryA("kernel32.dll");
    if (kernel32 == nullptr) {
        return;
    }
    bind_one(kernel32, "GetThreadTimes", get_thread_times);
    bind_one(kernel32, "GetProcessTimes", get_process_times);
}

cpu_snapshot take_cpu_snapshot(bool thread)
{
    FILETIME creation{};
    FILETIME exit{};
    FILETIME kernel{};
    FILETIME user{};
    if (thread) {
        get_times_fn f = get_thread_times.load();
        if (f == nullptr || !f(GetCurrentThread(), &creation, &exit, &kernel, &user)) {
            throw internal_error(1346);
        }
    } else {
        get_times_fn f = get_process_times.load();
        if (f == nullptr || !f(GetCurrentProcess(), &creation, &exit, &kernel, &user)) {
            throw internal_error(1373);
        }
    }
    FILETIME wall{};
    GetSystemTimeAsFileTime(&wall);
    return cpu_snapshot{ticks(kernel), ticks(user), ticks(wall), thread ? 1 : 0};
}

cpu_deltas cpu_snapshot_deltas(const cpu_snapshot& older, const cpu_snapshot& newer) noexcept
{
    if (older.kind != newer.kind || newer.wall <= older.wall) {
        return cpu_deltas{0, 0, 0};
    }
    cpu_deltas d{newer.kernel - older.kernel, newer.user - older.user, newer.wall - older.wall};
    // The times of a thread can grow faster than the wall clock that is read after them.
    if (d.kernel + d.user > d.elapsed) {
        d.elapsed = d.kernel + d.user;
    }
    return d;
}

cpu_usage_meter::cpu_usage_meter(bool thread, std::uint64_t window_ms, std::uint32_t mode)
    : window_ms_(window_ms), thread_(thread), mode_(mode)
{
}

void cpu_usage_meter::sample() { sample(monotonic_ms()); }

void cpu_usage_meter::sample(std::int64_t now_ms)
{
    if (!snapshots_.empty()) {
        auto newest = snapshots_.end();
        --newest;
        if (now_ms - min_gap_ms < newest->first) {
            return;
        }
    }
    cpu_snapshot s = take_cpu_snapshot(thread_);
    snapshots_[now_ms] = s;
}

vantor_stl::map<std::int64_t, cpu_snapshot>::const_iterator cpu_usage_meter::window_start() const
{
    auto end = snapshots_.end();
    if (snapshots_.empty()) {
        return end;
    }
    auto newest = end;
    --newest;
    auto it = newest;
    while (it != snapshots_.begin()) {
        --it;
        if (static_cast<std::uint64_t>(newest->first - it->first) >= window_ms_) {
            return it;
        }
    }
    return end;
}

bool cpu_usage_meter::compute(double& kernel_share, double& user_share) const
{
    auto start = window_start();
    if (start == snapshots_.end()) {
        return false;
    }
    auto newest = snapshots_.end();
    --newest;
    cpu_deltas d = cpu_snapshot_deltas(start->second, newest->second);
    if (d.elapsed == 0) {
        kernel_share = 0.0;
        user_share = 0.0;
    } else {
        kernel_share = static_cast<double>(d.kernel) / static_cast<double>(d.elapsed);
        user_share = static_cast<double>(d.user) / static_cast<double>(d.elapsed);
    }
    return true;
}

void cpu_usage_meter::prune()
{
    auto start = window_start();
    if (start == snapshots_.end()) {
        return;
    }
    std::int64_t keep_from = start->first;
    while (!snapshots_.empty() && snapshots_.begin()->first < keep_from) {
        snapshots_.erase(snapshots_.begin());
        if (mode_ == 2) {
            break;
        }
    }
}

bool cpu_usage_meter::sample_and_compute(std::int64_t now_ms, double& kernel_share, double& user_share)
{
    sample(now_ms);
    if (!compute(kernel_share, user_share)) {
        return false;
    }
    prune();
    return true;
}

void cpu_usage_meter::add_snapshot_for_testing(std::int64_t at_ms, const cpu_snapshot& snapshot)
{
    snapshots_[at_ms] = snapshot;
}

namespace cpu_sampler {

std::unique_ptr<cpu_usage_meter> create()
{
    // Normally bound by the foundation start already; binding again does nothing.
    bind_process_stats();
    auto meter = std::make_unique<cpu_usage_meter>(true);
    meter->sample();
    return meter;
}

bool sample(cpu_usage_meter& meter, double& kernel_share, double& user_share)
{
    return meter.sample_and_compute(monotonic_ms(), kernel_share, user_share);
}

void destroy(std::unique_ptr<cpu_usage_meter>& meter) noexcept { meter.reset(); }

}  // namespace cpu_sampler
}  // namespace vantor
