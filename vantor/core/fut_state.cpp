#include "vantor/core/fut_state.h"

#include <memory>
#include <tuple>

#include "vantor/core/crash_now.h"
#include "vantor/core/log.h"
#include "vantor/core/map.h"
#include "vantor/core/semaphore.h"
#include "vantor/core/win_handle.h"

namespace vantor {
namespace {

const log_context fut_log{"fut"};

template <typename F>
std::uintptr_t function_word(F f) noexcept
{
    return reinterpret_cast<std::uintptr_t>(f);
}

// A semaphore handle is the argument of a waiter's record; settling the state releases it.
void __cdecl wake_waiter(void* semaphore)
{
    if (!ReleaseSemaphore(static_cast<HANDLE>(semaphore), 1, nullptr)) {
        fut_log.log(VANTOR_FMT("waking a waiter failed: %1%"), last_error_message());
    }
}

void __cdecl wake_failed_waiter(void* semaphore, const char*)
{
    wake_waiter(semaphore);
}

// The heap record behind then: both outcomes call the same function once and free the record.
struct then_record {
    fut_then_fn function;
    void* context;
    void* a;
    void* b;
    void* c;
};

void __cdecl run_then(void* arg)
{
    std::unique_ptr<then_record> r(static_cast<then_record*>(arg));
    try {
        r->function(r->context, r->a, r->b, r->c);
    } catch (const exception& e) {
        fut_log.log(VANTOR_FMT("continuation failed: %1%"), e.what());
    } catch (...) {
        fut_log.write("continuation failed");
    }
}

void __cdecl run_then_failed(void* arg, const char*)
{
    run_then(arg);
}

// The heap record behind then_post: settling posts the job and frees the record.
struct post_record {
    executor_handle executor;
    job continuation;
};

void __cdecl post_continuation(void* arg)
{
    std::unique_ptr<post_record> r(static_cast<post_record*>(arg));
    r->executor.post_job(r->continuation);
}

void __cdecl post_continuation_failed(void* arg, const char*)
{
    post_continuation(arg);
}

// Runs every record of a set taken out of a settled state, in set order, then frees the set.
// One record that throws does not keep the others from running: a lost continuation would leave
// a task or a waiter hanging.
template <typename Call>
void run_continuations(vantor_stl::set<fut_continuation>* set, Call call) noexcept
{
    if (set == nullptr) {
        return;
    }
    for (const fut_continuation& r : *set) {
        try {
            call(r);
        } catch (const exception& e) {
            fut_log.log(VANTOR_FMT("continuation failed: %1%"), e.what());
        } catch (...) {
            fut_log.write("continuation failed");
        }
    }
    delete set;
}

// Waits on a semaphore for at most timeout_ms (negative: without limit), in chunks that the
// system's 32-bit time-out can express. False on time-out; raises when the wait fails.
bool wait_handle(HANDLE h, std::int64_t timeout_ms)
{
    std::int64_t remaining = timeout_ms;
    for (;;) {
        DWORD chunk = timeout_ms < 0 ? INFINITE : wait_time::next_chunk_ms(remaining);
        DWORD r = WaitForSingleObject(h, chunk);
        if (r == WAIT_OBJECT_0) {
            return true;
        }
        if (r != WAIT_TIMEOUT) {
            throw exception::make_win32_error("WaitForSingleObject");
        }
        if (timeout_ms >= 0) {
            remaining -= chunk;
            if (remaining <= 0) {
                return false;
            }
        }
    }
}

}  // namespace

bool operator<(const fut_continuation& a, const fut_continuation& b) noexcept
{
    auto key = [](const fut_continuation& r) {
        return std::make_tuple(reinterpret_cast<std::uintptr_t>(r.arg), function_word(r.on_done),
                               function_word(r.on_fail));
    };
    return key(a) < key(b);
}

bool operator==(const fut_continuation& a, const fut_continuation& b) noexcept
{
    return a.arg == b.arg && a.on_done == b.on_done && a.on_fail == b.on_fail;
}

const exception& fut_not_set_error()
{
    static const exception not_set("fut not set");
    return not_set;
}

exception fut_already_set_error()
{
    return exception("fut already set");
}

exception fut_timeout_error()
{
    return exception::make_timeout();
}

fut_state_base::fut_state_base() noexcept = default;

fut_state_base::~fut_state_base()
{
    delete continuations_;
    delete error_;
}

void fut_state_base::release() noexcept
{
    if (count_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        delete this;
    }
}

fut_kind fut_state_base::kind() const noexcept
{
    cs_lock guard(lock_.get());
    return kind_;
}

bool fut_state_base::add_continuation(const fut_continuation& record, fut_on_add_fn on_add, void* on_add_arg,
                                      bool* already_failed)
{
    cs_lock guard(lock_.get());
    if (kind_ != fut_kind::pending) {
        if (kind_ == fut_kind::failed && already_failed != nullptr) {
            *already_failed = true;
        }
        return false;
    }
    if (continuations_ == nullptr) {
        continuations_ = new continuation_set();
    }
    // The record goes in first and on_add follows under the same lock: a failing insertion then
    // never leaves on_add's effect (a reference taken for the record) without its record, and an
    // on_add that throws takes the record out again.
    if (!continuations_->insert(record).second) {
        return false;
    }
    if (on_add != nullptr) {
        try {
            on_add(on_add_arg);
        } catch (...) {
            continuations_->erase(record);
            throw;
        }
    }
    return true;
}

bool fut_state_base::remove_continuation(const fut_continuation& record) noexcept
{
    cs_lock guard(lock_.get());
    return kind_ == fut_kind::pending && continuations_ != nullptr && continuations_->erase(record) == 1;
}

bool fut_state_base::complete(store_fn store, void* value, bool throw_if_set)
{
    continuation_set* taken = nullptr;
    {
        cs_lock guard(lock_.get());
        if (kind_ != fut_kind::pending) {
            guard.unlock();
            if (throw_if_set) {
                throw fut_already_set_error();
            }
            return false;
        }
        store(this, value);
        taken = std::exchange(continuations_, nullptr);
        kind_ = fut_kind::done;
    }
    run_continuations(taken, [](const fut_continuation& r) {
        if (r.on_done != nullptr) {
            r.on_done(r.arg);
        }
    });
    return true;
}

bool fut_state_base::set_exception(const exception& error)
{
    // The copy is made before the lock is taken, so that a failing copy leaves the state as it
    // was. Its text is settled here, so the threads that read it later only read.
    auto stored = std::make_unique<exception>(error);
    const char* text = stored->what();
    continuation_set* taken = nullptr;
    {
        cs_lock guard(lock_.get());
        if (kind_ != fut_kind::pending) {
            return false;
        }
        error_ = stored.release();
        taken = std::exchange(continuations_, nullptr);
        kind_ = fut_kind::failed;
    }
    // The stored exception lives as long as the state, which the caller's reference keeps.
    run_continuations(taken, [text](const fut_continuation& r) {
        if (r.on_fail != nullptr) {
            r.on_fail(r.arg, text);
        }
    });
    return true;
}

std::optional<exception> fut_state_base::error() const
{
    cs_lock guard(lock_.get());
    if (kind_ != fut_kind::failed) {
        return std::nullopt;
    }
    return *error_;
}

const char* fut_state_base::error_text() const noexcept
{
    cs_lock guard(lock_.get());
    return kind_ == fut_kind::failed ? error_->what() : nullptr;
}

void fut_state_base::check_done() const
{
    cs_lock guard(lock_.get());
    switch (kind_) {
        case fut_kind::done:
            return;
        case fut_kind::failed: {
            exception copy(*error_);
            guard.unlock();
            throw copy;
        }
        case fut_kind::pending:
            break;
    }
    guard.unlock();
    throw fut_not_set_error();
}

void fut_state_base::then(fut_then_fn function, void* context, void* a, void* b, void* c)
{
    auto record = std::make_unique<then_record>(then_record{function, context, a, b, c});
    fut_continuation continuation{record.get(), &run_then, &run_then_failed};
    if (add_continuation(continuation, nullptr, nullptr, nullptr)) {
        (void)record.release();  // the continuation owns it now
        return;
    }
    run_then(record.release());
}

void fut_state_base::then_post(const executor_handle& executor, const job& continuation)
{
    if (!executor) {
        throw internal_error(__LINE__);
    }
    auto record = std::make_unique<post_record>(post_record{executor, continuation});
    fut_continuation c{record.get(), &post_continuation, &post_continuation_failed};
    if (add_continuation(c, nullptr, nullptr, nullptr)) {
        (void)record.release();  // the continuation owns it now
        return;
    }
    post_continuation(record.release());
}

bool fut_state_base::wait_settled(std::int64_t timeout_ms)
{
    win_handle wake;
    fut_continuation record;
    {
        cs_lock guard(lock_.get());
        if (kind_ != fut_kind::pending) {
            return true;
        }
        wake.reset(CreateSemaphoreW(nullptr, 0, 0x7fffffff, nullptr));
        if (!wake) {
            throw exception::make_win32_error("CreateSemaphoreW");
        }
        record = {wake.get(), &wake_waiter, &wake_failed_waiter};
        if (continuations_ == nullptr) {
            continuations_ = new continuation_set();
        }
        continuations_->insert(record);
    }

    bool woken = false;
    try {
        woken = wait_handle(wake.get(), timeout_ms);
    } catch (...) {
        if (!remove_continuation(record)) {
            // The settler holds the record and will still release the semaphore: the handle
            // stays open for good rather than being closed under its hands.
            (void)wake.release();
        }
        throw;
    }
    if (!woken) {
        // Only this waiter gives up: its record leaves the set and the state stays as it is.
        if (remove_continuation(record)) {
            return false;
        }
        // The state settled meanwhile and its settler is about to release the semaphore; the
        // handle must stay open until it has.
        wait_handle(wake.get(), -1);
    }
    if (kind() == fut_kind::pending) {
        // Only settling releases a waiter's semaphore.
        crash_now();
    }
    return true;
}

std::size_t fut_state_base::continuation_count_for_testing() const
{
    cs_lock guard(lock_.get());
    return continuations_ == nullptr ? 0 : continuations_->size();
}

}  // namespace vantor
