#include "testing/host/test_host.h"

#include <chrono>
#include <cstdio>
#include <random>

#include "testing/host/host_runtime.h"
#include "vantor/core/netbuf_local.h"

namespace kova_testing {
namespace {

test_host* the_host = nullptr;
std::mutex log_lock;
std::vector<std::string> logged;
std::mutex process_mutex;
std::recursive_mutex global_mutex;

void __cdecl process_lock() { process_mutex.lock(); }
void __cdecl process_unlock() { process_mutex.unlock(); }
std::int64_t __cdecl epoch_ms()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}
void __cdecl pre_crash() { std::fputs("host: pre-crash hook\n", stderr); }
std::int32_t __cdecl host_random()
{
    static std::mt19937 engine(12345);
    return static_cast<std::int32_t>(engine() & 0x7fffffff);
}
void __cdecl crash_installer() {}
std::int32_t __cdecl log_sink(const char* text, std::int32_t length)
{
    std::lock_guard guard(log_lock);
    logged.emplace_back(text, static_cast<std::size_t>(length));
    return 0;
}
void __cdecl log_flush() {}
void __cdecl global_lock() { global_mutex.lock(); }
void __cdecl global_unlock() { global_mutex.unlock(); }
vantor::api_registry* __cdecl registry_entry() { return &the_host->registry(); }

}  // namespace

void* host_registry::lookup(const char* name)
{
    std::lock_guard guard(lock_);
    auto it = map_.find(name ? name : "");
    return it == map_.end() ? nullptr : it->second;
}

bool host_registry::register_interface(const char* name, void* object)
{
    std::lock_guard guard(lock_);
    return map_.emplace(name ? name : "", object).second;
}

std::vector<std::string> host_registry::names()
{
    std::lock_guard guard(lock_);
    std::vector<std::string> out;
    for (const auto& [name, object] : map_) out.push_back(name);
    return out;
}

test_host::test_host(const host_options& options) : options_(options)
{
    the_host = this;
    table_.words[0] = static_cast<std::uint32_t>(options.table_version);
    set(4, reinterpret_cast<const void*>(&process_lock));
    set(8, reinterpret_cast<const void*>(&process_unlock));
    // The host's byte buffers: a buffer implementation linked into the host program, so the
    // plug-in's buffers are the host's (the same code as the foundation's own, another copy).
    set(16, &netbuf_imp::local_table());
    set(20, reinterpret_cast<const void*>(&host_monotonic_ms));
    set(24, reinterpret_cast<const void*>(&epoch_ms));
    set(28, reinterpret_cast<const void*>(&host_schedule_once));
    set(32, reinterpret_cast<const void*>(&host_cancel_timer));
    set(48, reinterpret_cast<const void*>(&pre_crash));
    set(52, reinterpret_cast<const void*>(&host_random));
    set(56, &failed_thread_starts_);
    set(60, reinterpret_cast<const void*>(&crash_installer));
    set(92, reinterpret_cast<const void*>(&host_schedule));
    set(96, reinterpret_cast<const void*>(&host_schedule_once_id));
    set(100, reinterpret_cast<const void*>(&host_schedule_id));
    set(116, reinterpret_cast<const void*>(&epoch_ms));
    set(120, reinterpret_cast<const void*>(&log_sink));
    set(128, reinterpret_cast<const void*>(&global_lock));
    if (options.global_lock_pair) set(132, reinterpret_cast<const void*>(&global_unlock));
    set(136, reinterpret_cast<const void*>(&host_default_executor));
    set(140, reinterpret_cast<const void*>(&log_flush));
    set(152, reinterpret_cast<const void*>(&registry_entry));
}

void test_host::set(std::size_t byte_offset, const void* entry)
{
    table_.words[byte_offset / 4] = reinterpret_cast<std::uintptr_t>(entry);
}

void test_host::record(std::string call)
{
    std::lock_guard guard(lock_);
    calls_.push_back(std::move(call));
}

void test_host::register_session_plugin(const char* type_name, void*, void*)
{
    record(std::string("register_session_plugin ") + type_name);
}

void test_host::register_counter(const char* name, std::int32_t*) { record(std::string("register_counter ") + name); }

void* test_host::find_interface(const char* name)
{
    record(std::string("find_interface ") + name);
    return nullptr;
}

std::vector<std::string> test_host::log_lines()
{
    std::lock_guard guard(log_lock);
    return logged;
}

std::vector<std::string> test_host::calls()
{
    std::lock_guard guard(lock_);
    return calls_;
}

test_host* current_host() { return the_host; }

}  // namespace kova_testing
