#pragma once
// Critical-section guards, the process-wide and global locks (the host's functions when it
// offers them, local recursive critical sections otherwise) and the reader/writer lock functions
// bound at run time.
#include "vantor/core/win_api.h"

namespace vantor {

// Owns an initialised CRITICAL_SECTION for the life of the object.
class critical_section {
public:
    critical_section() noexcept { InitializeCriticalSection(&cs_); }
    critical_section(const critical_section&) = delete;
    critical_section& operator=(const critical_section&) = delete;
    ~critical_section() { DeleteCriticalSection(&cs_); }

    CRITICAL_SECTION* get() noexcept { return &cs_; }

private:
    CRITICAL_SECTION cs_;
};

// A critical section that is never deleted, for process-wide locks (as a function-local static)
// that threads may still take while the process ends.
class lasting_critical_section {
public:
    lasting_critical_section() noexcept { InitializeCriticalSection(&cs_); }
    lasting_critical_section(const lasting_critical_section&) = delete;
    lasting_critical_section& operator=(const lasting_critical_section&) = delete;

    CRITICAL_SECTION* get() noexcept { return &cs_; }

private:
    CRITICAL_SECTION cs_;
};

// Enters a critical section for its scope. unlock leaves early; relock enters the same section
// again. The destructor leaves it only while it is held.
class cs_lock {
public:
    explicit cs_lock(CRITICAL_SECTION* cs) noexcept;
    cs_lock(const cs_lock&) = delete;
    cs_lock& operator=(const cs_lock&) = delete;
    ~cs_lock();

    void unlock() noexcept;
    void relock() noexcept;
    bool holds() const noexcept { return held_ != nullptr; }

private:
    CRITICAL_SECTION* section_;
    CRITICAL_SECTION* held_;  // null while nothing is held
};

// The inverse guard: leaves a section the thread holds for its scope and enters it again on the
// way out, for calling out without the lock.
class cs_unlock_scope {
public:
    explicit cs_unlock_scope(CRITICAL_SECTION* cs) noexcept;
    cs_unlock_scope(const cs_unlock_scope&) = delete;
    cs_unlock_scope& operator=(const cs_unlock_scope&) = delete;
    ~cs_unlock_scope();

private:
    CRITICAL_SECTION* cs_;
};

// Enters two sections, first then second, and leaves the second, then the first.
class cs_lock2 {
public:
    cs_lock2(CRITICAL_SECTION* first, CRITICAL_SECTION* second) noexcept;
    cs_lock2(const cs_lock2&) = delete;
    cs_lock2& operator=(const cs_lock2&) = delete;
    ~cs_lock2();

private:
    CRITICAL_SECTION* first_;
    CRITICAL_SECTION* second_;
};

// The process lock guards short stretches shared by the whole module. The host's pair is used
// when the host gave both functions; otherwise a local recursive critical section. With the
// host's functions there is no recursion guarantee.
void process_lock_init();
void process_lock();
void process_unlock();

// The global lock: the host's pair when it gave both functions, else a local recursive critical
// section created by init (or on first use).
struct global_lock {
    static void init();
    static void lock();
    static void unlock();
};
// Leaves the global lock; anything raised on the way is dropped.
void global_unlock_nothrow() noexcept;

// Storage for one reader/writer lock of whichever kind the bound functions use; it is large
// enough for a critical section. Initialised and destroyed through the bound functions.
class rw_lock {
public:
    rw_lock() noexcept;
    rw_lock(const rw_lock&) = delete;
    rw_lock& operator=(const rw_lock&) = delete;
    ~rw_lock();

    void* storage() noexcept { return storage_; }

private:
    alignas(CRITICAL_SECTION) unsigned char storage_[sizeof(CRITICAL_SECTION)];
};

// The reader/writer lock functions over rw_lock storage: the slim reader/writer lock functions
// of kernel32 when all five exist, otherwise critical-section functions (both acquires enter,
// both releases leave). None of them raises.
struct rw_lock_api {
    using function = void(WINAPI*)(void* lock);
    function initialize;
    function acquire_exclusive;
    function acquire_shared;
    function release_exclusive;
    function release_shared;
    function destroy;
};

// Binds the functions once per process; later calls return at once.
void bind_srw_locks();
// The bound functions (bound on first use when the start-up has not bound them yet).
const rw_lock_api& rw_lock_functions();

// Builds the function set from a name lookup (null meaning missing), as bind_srw_locks does
// from "kernel32.dll".
using rw_lock_lookup_for_testing = FARPROC (*)(const char* name);
rw_lock_api make_rw_lock_api_for_testing(rw_lock_lookup_for_testing lookup);

// Scoped holds of a rw_lock in one mode; the destructor releases in the same mode while the
// guard still owns the lock.
class rw_lock_exclusive {
public:
    explicit rw_lock_exclusive(rw_lock& lock) noexcept;
    rw_lock_exclusive(const rw_lock_exclusive&) = delete;
    rw_lock_exclusive& operator=(const rw_lock_exclusive&) = delete;
    ~rw_lock_exclusive();
    void unlock() noexcept;

private:
    rw_lock* lock_;
    bool owns_;
};

class rw_lock_shared {
public:
    explicit rw_lock_shared(rw_lock& lock) noexcept;
    rw_lock_shared(const rw_lock_shared&) = delete;
    rw_lock_shared& operator=(const rw_lock_shared&) = delete;
    ~rw_lock_shared();
    void unlock() noexcept;

private:
    rw_lock* lock_;
    bool owns_;
};

}  // namespace vantor
