#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <thread>

#include "vantor/core/host_hooks.h"
#include "vantor/core/locks.h"
#include "vantor/core/win_api.h"

namespace {

// True when another thread cannot enter the section now.
bool held_elsewhere(CRITICAL_SECTION* cs)
{
    bool entered = false;
    std::thread probe([&] {
        entered = TryEnterCriticalSection(cs) != FALSE;
        if (entered) {
            LeaveCriticalSection(cs);
        }
    });
    probe.join();
    return !entered;
}

// Runs `take` on another thread while the caller holds something; reports whether it got
// through within a short time, then lets the caller release and waits for the thread.
class blocked_probe {
public:
    explicit blocked_probe(std::function<void()> take)
        : thread_([this, take] {
              take();
              done_ = true;
          })
    {
    }
    bool done_within_ms(int ms)
    {
        for (int i = 0; i < ms && !done_; ++i) {
            Sleep(1);
        }
        return done_;
    }
    void join() { thread_.join(); }

private:
    std::atomic<bool> done_{false};
    std::thread thread_;
};

TEST(cs_lock, unlock_relock_and_scopes)
{
    vantor::critical_section a;
    vantor::critical_section b;
    {
        vantor::cs_lock lock(a.get());
        EXPECT_TRUE(lock.holds());
        EXPECT_TRUE(held_elsewhere(a.get()));
        {
            vantor::cs_unlock_scope out(a.get());
            EXPECT_FALSE(held_elsewhere(a.get()));
        }
        EXPECT_TRUE(held_elsewhere(a.get()));
        lock.unlock();
        EXPECT_FALSE(lock.holds());
        EXPECT_FALSE(held_elsewhere(a.get()));
        lock.unlock();  // a second unlock leaves nothing
        EXPECT_FALSE(held_elsewhere(a.get()));
        lock.relock();
        EXPECT_TRUE(held_elsewhere(a.get()));
    }
    EXPECT_FALSE(held_elsewhere(a.get()));
    {
        vantor::cs_lock released_early(a.get());
        released_early.unlock();
    }
    EXPECT_FALSE(held_elsewhere(a.get()));
    {
        vantor::cs_lock2 both(a.get(), b.get());
        EXPECT_TRUE(held_elsewhere(a.get()));
        EXPECT_TRUE(held_elsewhere(b.get()));
    }
    EXPECT_FALSE(held_elsewhere(a.get()));
    EXPECT_FALSE(held_elsewhere(b.get()));
}

TEST(process_locks, local_locks_are_recursive_and_exclusive)
{
    struct row {
        const char* label;
        void (*lock)();
        void (*unlock)();
    };
    vantor::process_lock_init();
    vantor::global_lock::init();
    for (row r : {row{"process", vantor::process_lock, vantor::process_unlock},
                  row{"global", vantor::global_lock::lock, vantor::global_lock::unlock}}) {
        SCOPED_TRACE(r.label);
        r.lock();
        r.lock();
        r.unlock();
        blocked_probe other([&] {
            r.lock();
            r.unlock();
        });
        EXPECT_FALSE(other.done_within_ms(50));
        r.unlock();
        other.join();
    }
}

struct host_lock_calls {
    static inline int locks = 0;
    static inline int unlocks = 0;
    static void __cdecl lock() { ++locks; }
    static void __cdecl unlock() { ++unlocks; }
};

TEST(process_locks, host_functions_are_used_only_as_a_pair)
{
    vantor::host_services saved = vantor::host();
    host_lock_calls::locks = 0;
    host_lock_calls::unlocks = 0;

    vantor::host().process_lock = host_lock_calls::lock;
    vantor::host().process_unlock = host_lock_calls::unlock;
    vantor::host().global_lock = host_lock_calls::lock;
    vantor::host().global_unlock = host_lock_calls::unlock;
    vantor::process_lock();
    vantor::process_unlock();
    vantor::global_lock::lock();
    vantor::global_unlock_nothrow();
    EXPECT_EQ(host_lock_calls::locks, 2);
    EXPECT_EQ(host_lock_calls::unlocks, 2);

    // Half a pair: the local lock serves both calls.
    vantor::host().process_unlock = nullptr;
    vantor::host().global_lock = nullptr;
    vantor::process_lock();
    vantor::process_unlock();
    vantor::global_lock::lock();
    vantor::global_lock::unlock();
    EXPECT_EQ(host_lock_calls::locks, 2);
    EXPECT_EQ(host_lock_calls::unlocks, 2);

    vantor::host() = saved;
}

TEST(rw_lock, exclusive_excludes_and_shared_shares)
{
    vantor::bind_srw_locks();
    vantor::rw_lock lock;
    {
        vantor::rw_lock_shared reader(lock);
        blocked_probe other_reader([&] { vantor::rw_lock_shared r(lock); });
        EXPECT_TRUE(other_reader.done_within_ms(5000));
        other_reader.join();
    }
    {
        vantor::rw_lock_exclusive writer(lock);
        blocked_probe reader([&] { vantor::rw_lock_shared r(lock); });
        EXPECT_FALSE(reader.done_within_ms(50));
        writer.unlock();
        EXPECT_TRUE(reader.done_within_ms(5000));
        reader.join();
    }
    vantor::rw_lock_exclusive again(lock);
}

FARPROC lookup_all(const char* name)
{
    return GetProcAddress(GetModuleHandleW(L"kernel32.dll"), name);
}
FARPROC lookup_without_release_shared(const char* name)
{
    return std::strcmp(name, "ReleaseSRWLockShared") == 0 ? nullptr : lookup_all(name);
}
FARPROC lookup_nothing(const char*)
{
    return nullptr;
}

TEST(rw_lock, falls_back_to_critical_sections_unless_all_five_exist)
{
    vantor::rw_lock_api slim = vantor::make_rw_lock_api_for_testing(lookup_all);
    EXPECT_NE(slim.acquire_exclusive, slim.acquire_shared);
    EXPECT_NE(slim.release_exclusive, slim.release_shared);

    for (auto lookup : {lookup_without_release_shared, lookup_nothing}) {
        vantor::rw_lock_api api = vantor::make_rw_lock_api_for_testing(lookup);
        EXPECT_EQ(api.acquire_exclusive, api.acquire_shared);
        EXPECT_EQ(api.release_exclusive, api.release_shared);
        CRITICAL_SECTION storage;
        api.initialize(&storage);
        api.acquire_shared(&storage);
        EXPECT_TRUE(held_elsewhere(&storage));
        api.release_shared(&storage);
        EXPECT_FALSE(held_elsewhere(&storage));
        api.destroy(&storage);
    }
}

}  // namespace
