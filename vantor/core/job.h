#pragma once
// The unit of work that executors run, and the two-word handle through which work is posted
// to an executor. Both cross the host boundary, so they hold only C function pointers.
#include <cstdint>

namespace vantor {

class log_context;

using job_fn = void(__cdecl*)(void* arg);
using post_fn = void(__cdecl*)(void* context, job_fn run, job_fn release, void* arg);

// Three words: run(arg) once, then release(arg) once.
struct job {
    job_fn run = nullptr;
    job_fn release = nullptr;
    void* arg = nullptr;

    // Calls run then release, swallowing every exception of either.
    void execute() noexcept;

    // For a post function whose executor could not take the job: the poster cannot learn of
    // the failure, so the line "post failed, job released without running: <reason>" goes to
    // `log` and the job's release runs here. Call inside the catch block of the failure.
    void release_after_failed_post(const log_context& log) const noexcept;
};

// {post; context}: posting hands a job to the executor, which executes it exactly once on one
// of its threads.
struct executor_handle {
    post_fn post = nullptr;
    void* context = nullptr;

    explicit operator bool() const { return post != nullptr; }
    void post_job(job_fn run, job_fn release, void* arg) const { post(context, run, release, arg); }
    void post_job(const job& j) const { post(context, j.run, j.release, j.arg); }
};

inline bool operator==(const executor_handle& a, const executor_handle& b)
{
    return a.post == b.post && a.context == b.context;
}

}  // namespace vantor
