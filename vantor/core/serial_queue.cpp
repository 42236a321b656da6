#include "vantor/core/serial_queue.h"

#include <exception>
#include <memory>
#include <string>

#include "vantor/core/exception.h"
#include "vantor/core/locks.h"
#include "vantor/core/log.h"
#include "vantor/core/refc_obj.h"
#include "vantor/core/vector.h"

namespace vantor {
namespace {

constexpr log_context queue_log{"serial_queue"};


}  // namespace

// The shared state; created with the first holder's reference.
class serial_queue::state final : public refc_obj_class {
public:
    explicit state(const executor_handle& t) : refc_obj_class(1), target(t) {}

    critical_section lock;
    const executor_handle target;
    vantor_stl::vector<job> jobs;
    bool draining = false;  // from scheduling a drain until a drain finds the queue empty

private:
    ~state() override
    {
        if (!jobs.empty()) {
            try {
                queue_log.log(VANTOR_FMT("queue destroyed with %1% jobs not run"), jobs.size());
            } catch (...) {
            }
        }
    }
};

// The argument of a drain job: a holder that keeps the state alive until the job is released,
// and whether the target ran the job.
struct serial_queue::scheduled_drain {
    explicit scheduled_drain(const serial_queue& q) noexcept : holder(q) {}

    serial_queue holder;
    bool ran = false;
};

serial_queue::serial_queue(const executor_handle& target) : state_(new state(target)) {}

serial_queue::serial_queue(state* s) noexcept : state_(s)
{
    state_->add_ref();
}

serial_queue::serial_queue(const serial_queue& other) noexcept : state_(other.state_)
{
    state_->add_ref();
}

serial_queue& serial_queue::operator=(const serial_queue& other) noexcept
{
    state* old = state_;
    other.state_->add_ref();
    state_ = other.state_;
    old->release();
    return *this;
}

serial_queue::~serial_queue()
{
    state_->release();
}

executor_handle serial_queue::target() const noexcept
{
    return state_->target;
}

bool serial_queue::draining_for_testing() const
{
    cs_lock guard(state_->lock.get());
    return state_->draining;
}

void serial_queue::post(const job& j)
{
    state& s = *state_;
    bool schedule = false;
    {
        cs_lock guard(s.lock.get());
        s.jobs.push_back(j);
        if (!s.draining) {
            s.draining = true;
            schedule = true;
        }
    }
    if (schedule) {
        schedule_drain(s);
    }
}

void __cdecl serial_queue::post_job(void* holder, job_fn run, job_fn release, void* arg)
{
    try {
        static_cast<serial_queue*>(holder)->post(job{run, release, arg});
    } catch (...) {
        job{run, release, arg}.release_after_failed_post(queue_log);
    }
}

void serial_queue::schedule_drain(state& s)
{
    try {
        auto scheduled = std::make_unique<scheduled_drain>(serial_queue(&s));
        // A target may run or release the drain before its post returns.
        s.target.post_job(&run_drain, &release_drain, scheduled.get());
        static_cast<void>(scheduled.release());
    } catch (...) {
        // A target whose post throws has not taken the job; the unique_ptr has freed it.
        std::string reason = "post of the drain failed: " + current_exception_text();
        drain_not_scheduled(s, reason.c_str());
    }
}

void __cdecl serial_queue::run_drain(void* scheduled)
{
    auto* d = static_cast<scheduled_drain*>(scheduled);
    d->ran = true;
    drain(*d->holder.state_);
}

void __cdecl serial_queue::release_drain(void* scheduled)
{
    std::unique_ptr<scheduled_drain> d(static_cast<scheduled_drain*>(scheduled));
    if (!d->ran) {
        // The target gave the job back without running it. Scheduling again from here could
        // loop for ever inside a target that refuses at once, so the next post does it.
        drain_not_scheduled(*d->holder.state_, "drain released without running");
    }
}

void serial_queue::drain(state& s)
{
    vantor_stl::vector<job> taken;
    for (;;) {
        {
            cs_lock guard(s.lock.get());
            if (s.jobs.empty()) {
                s.draining = false;
                return;
            }
            // Taking the whole vector keeps the lock hold time independent of the job count.
            taken.swap(s.jobs);
        }
        for (job& j : taken) {
            j.execute();
        }
        taken.clear();
    }
}

void serial_queue::drain_not_scheduled(state& s, const char* reason) noexcept
{
    std::size_t waiting = 0;
    {
        cs_lock guard(s.lock.get());
        s.draining = false;
        waiting = s.jobs.size();
    }
    try {
        queue_log.log(VANTOR_FMT("%1%; %2% jobs wait for the next post"), reason, waiting);
    } catch (...) {
    }
}

}  // namespace vantor
