#include "vantor/core/foundation.h"

#include <atomic>

#include "vantor/core/api_registry.h"
#include "vantor/core/clock.h"
#include "vantor/core/cpu_meter.h"
#include "vantor/core/crash_traps.h"
#include "vantor/core/exception.h"
#include "vantor/core/host_hooks.h"
#include "vantor/core/locks.h"
#include "vantor/core/log.h"
#include "vantor/core/netbuf.h"
#include "vantor/core/random.h"
#include "vantor/core/thread.h"
#include "vantor/core/timers.h"
#include "vantor/core/win_api.h"

namespace vantor {
namespace {

const log_context init_log{"vantor::init"};

std::atomic<bool> started{false};
std::atomic<plugin_abi::host_ifc*> host_pointer{nullptr};

template <typename F>
void take(F& field, const vantor_abi::rpt_api& t, std::size_t offset)
{
    field = reinterpret_cast<F>(t.at(offset));
}

// Lines go to the host's sink and are then taken: none is written locally as well.
std::int32_t __cdecl host_log_sink(const char* text, std::int32_t length)
{
    host().host_log(text, length);
    return 0;
}

void take_log_sink(host_services& h, const vantor_abi::rpt_api& t)
{
    take(h.host_log, t, 120);
    h.log_sink = h.host_log ? &host_log_sink : nullptr;
}

}  // namespace

void copy_host_entries(const vantor_abi::rpt_api& t, host_services& h)
{
    const std::int32_t v = t.version();
    if (v >= 0) {
        take(h.process_lock, t, 4);
        take(h.process_unlock, t, 8);
        take(h.netbuf_table, t, 16);
        take(h.monotonic_ms, t, 20);
        take(h.timestamp_ms, t, 24);
        take(h.schedule_once, t, 28);
        take(h.cancel_timer, t, 32);
        take(h.pre_crash, t, 48);
        take(h.random, t, 52);
        take(h.failed_thread_starts, t, 56);
    }
    if (v >= 1) take(h.crash_handler_installer, t, 60);
    if (v >= 3) take(h.program_path_switch, t, 68);
    if (v >= 7) take(h.schedule, t, 92);
    if (v >= 8) {
        take(h.schedule_once_id, t, 96);
        take(h.schedule_id, t, 100);
    }
    if (v >= 15) take(h.wall_ms, t, 116);
    if (v >= 16) take_log_sink(h, t);
    if (v >= 18) {
        // The global lock is taken only as a pair.
        decltype(h.global_lock) lock = nullptr;
        decltype(h.global_unlock) unlock = nullptr;
        take(lock, t, 128);
        take(unlock, t, 132);
        if (lock && unlock) {
            h.global_lock = lock;
            h.global_unlock = unlock;
        }
    }
    if (v >= 20) take(h.default_executor, t, 136);
    if (v >= 21) take(h.log_flush, t, 140);
    if (v >= 23) take(h.file_access_hook, t, 148);
}

namespace {

void local_setup()
{
    seed_crt_rand();
    process_lock_init();
    // The local buffer table (with its block caches) unless the host's was installed.
    netbuf::install_local_table();
    random_init();
    bind_srw_locks();
    time_base_init();
    thread_registry_init();
    global_lock::init();
    // Stays loaded for the life of the process.
    if (!LoadLibraryA("ws2_32.dll")) {
        init_log.log(VANTOR_FMT("cannot load ws2_32.dll: %1%"), last_error_message());
    }
    set_log_echo(false);
    timers::init();
    bind_process_stats();
    crash::init();
}

}  // namespace

void foundation_init(const vantor_abi::rpt_api* t)
{
    if (started.exchange(true)) throw exception("vantor-rpt already initialized");
    if (t) {
        copy_host_entries(*t, host());
        netbuf::install_host_table();
        const std::int32_t v = t->version();
        if (v >= 24) {
            using registry_entry = api_registry*(__cdecl*)();
            if (auto get = reinterpret_cast<registry_entry>(t->at(152))) set_parent_registry(get());
        }
        if (v < min_host_table_version) {
            // The host must learn why the plug-in refused to start: its log sink, when the
            // table has one at its place, takes this line even though the version is too old.
            if (!host().log_sink) take_log_sink(host(), *t);
            init_log.log(VANTOR_FMT("invalid api provided (want=16, got=%1%)"), v);
            throw exception("vantor-rpt api missing");
        }
    }
    local_setup();
}

bool foundation_started() { return started.load(); }

void set_host_object(plugin_abi::host_ifc* h) { host_pointer.store(h); }
plugin_abi::host_ifc* host_object() { return host_pointer.load(); }

void* host_query_interface(const char* name)
{
    plugin_abi::host_ifc* h = host_object();
    if (!h || h->version() < 9) return nullptr;
    return h->find_interface(name);
}

void set_helper_process_mode() { crash::helper_process_flag.store(true); }
bool helper_process_mode() { return crash::helper_process_flag.load(); }

void reset_foundation_for_testing()
{
    started.store(false);
    host() = host_services{};
    host_pointer.store(nullptr);
}

}  // namespace vantor
