#include "vantor/core/locks.h"

#include "vantor/core/host_hooks.h"

namespace vantor {

cs_lock::cs_lock(CRITICAL_SECTION* cs) noexcept : section_(cs), held_(cs)
{
    EnterCriticalSection(cs);
}

cs_lock::~cs_lock()
{
    if (held_ != nullptr) {
        LeaveCriticalSection(held_);
    }
}

void cs_lock::unlock() noexcept
{
    if (held_ != nullptr) {
        LeaveCriticalSection(held_);
        held_ = nullptr;
    }
}

void cs_lock::relock() noexcept
{
    if (held_ == nullptr) {
        EnterCriticalSection(section_);
        held_ = section_;
    }
}

cs_unlock_scope::cs_unlock_scope(CRITICAL_SECTION* cs) noexcept : cs_(cs)
{
    LeaveCriticalSection(cs_);
}

cs_unlock_scope::~cs_unlock_scope()
{
    EnterCriticalSection(cs_);
}

cs_lock2::cs_lock2(CRITICAL_SECTION* first, CRITICAL_SECTION* second) noexcept
    : first_(first), second_(second)
{
    EnterCriticalSection(first_);
    EnterCriticalSection(second_);
}

cs_lock2::~cs_lock2()
{
    LeaveCriticalSection(second_);
    LeaveCriticalSection(first_);
}

namespace {

CRITICAL_SECTION* local_process_lock()
{
    static lasting_critical_section cs;
    return cs.get();
}

CRITICAL_SECTION* local_global_lock()
{
    static lasting_critical_section cs;
    return cs.get();
}

// A host pair is used only when both halves are there: a lone lock function without its
// unlock (or the reverse) cannot be paired with anything.
bool host_process_lock()
{
    return host().process_lock != nullptr && host().process_unlock != nullptr;
}
bool host_global_lock()
{
    return host().global_lock != nullptr && host().global_unlock != nullptr;
}

}  // namespace

void process_lock_init()
{
    if (!host_process_lock()) {
        local_process_lock();
    }
}

void process_lock()
{
    if (host_process_lock()) {
        host().process_lock();
    } else {
        EnterCriticalSection(local_process_lock());
    }
}

void process_unlock()
{
    if (host_process_lock()) {
        host().process_unlock();
    } else {
        LeaveCriticalSection(local_process_lock());
    }
}

void global_lock::init()
{
    if (!host_global_lock()) {
        local_global_lock();
    }
}

void global_lock::lock()
{
    if (host_global_lock()) {
        host().global_lock();
    } else {
        EnterCriticalSection(local_global_lock());
    }
}

void global_lock::unlock()
{
    if (host_global_lock()) {
        host().global_unlock();
    } else {
        LeaveCriticalSection(local_global_lock());
    }
}

void global_unlock_nothrow() noexcept
{
    try {
        global_lock::unlock();
    } catch (...) {
        // Called on paths that must not fail; the lock is as the unlock left it.
    }
}

namespace {

// The critical-section set and the slim lock's empty destroy, with the storage-pointer
// signature of rw_lock_api.
void WINAPI cs_initialize(void* lock)
{
    InitializeCriticalSection(static_cast<CRITICAL_SECTION*>(lock));
}
void WINAPI cs_enter(void* lock)
{
    EnterCriticalSection(static_cast<CRITICAL_SECTION*>(lock));
}
void WINAPI cs_leave(void* lock)
{
    LeaveCriticalSection(static_cast<CRITICAL_SECTION*>(lock));
}
void WINAPI cs_delete(void* lock)
{
    DeleteCriticalSection(static_cast<CRITICAL_SECTION*>(lock));
}
void WINAPI srw_destroy(void*) {}

// Every SRW function takes one PSRWLOCK and returns nothing, so each one is called through the
// storage-pointer signature; the cast goes through the generic function type.
rw_lock_api::function as_rw_function(FARPROC f)
{
    return reinterpret_cast<rw_lock_api::function>(reinterpret_cast<void (*)()>(f));
}

FARPROC kernel32_lookup(const char* name)
{
    // kernel32 is mapped into every Win32 process, so no load is needed to look inside it.
    HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    return kernel32 == nullptr ? nullptr : GetProcAddress(kernel32, name);
}

rw_lock_api make_rw_lock_api(FARPROC (*lookup)(const char*))
{
    FARPROC init = lookup("InitializeSRWLock");
    FARPROC acquire_exclusive = lookup("AcquireSRWLockExclusive");
    FARPROC acquire_shared = lookup("AcquireSRWLockShared");
    FARPROC release_exclusive = lookup("ReleaseSRWLockExclusive");
    FARPROC release_shared = lookup("ReleaseSRWLockShared");
    if (init == nullptr || acquire_exclusive == nullptr || acquire_shared == nullptr ||
        release_exclusive == nullptr || release_shared == nullptr) {
        return {cs_initialize, cs_enter, cs_enter, cs_leave, cs_leave, cs_delete};
    }
    return {as_rw_function(init),           as_rw_function(acquire_exclusive),
            as_rw_function(acquire_shared), as_rw_function(release_exclusive),
            as_rw_function(release_shared), srw_destroy};
}

}  // namespace

const rw_lock_api& rw_lock_functions()
{
    static const rw_lock_api api = make_rw_lock_api(kernel32_lookup);
    return api;
}

void bind_srw_locks()
{
    rw_lock_functions();
}

rw_lock_api make_rw_lock_api_for_testing(rw_lock_lookup_for_testing lookup)
{
    return make_rw_lock_api(lookup);
}

rw_lock::rw_lock() noexcept
{
    rw_lock_functions().initialize(storage_);
}

rw_lock::~rw_lock()
{
    rw_lock_functions().destroy(storage_);
}

rw_lock_exclusive::rw_lock_exclusive(rw_lock& lock) noexcept : lock_(&lock), owns_(true)
{
    rw_lock_functions().acquire_exclusive(lock_->storage());
}

rw_lock_exclusive::~rw_lock_exclusive()
{
    unlock();
}

void rw_lock_exclusive::unlock() noexcept
{
    if (owns_) {
        owns_ = false;
        rw_lock_functions().release_exclusive(lock_->storage());
    }
}

rw_lock_shared::rw_lock_shared(rw_lock& lock) noexcept : lock_(&lock), owns_(true)
{
    rw_lock_functions().acquire_shared(lock_->storage());
}

rw_lock_shared::~rw_lock_shared()
{
    unlock();
}

void rw_lock_shared::unlock() noexcept
{
    if (owns_) {
        owns_ = false;
        rw_lock_functions().release_shared(lock_->storage());
    }
}

}  // namespace vantor
