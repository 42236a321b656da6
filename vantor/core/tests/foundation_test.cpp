#include <gtest/gtest.h>

#include <map>
#include <string>

#include "vantor/core/api_registry.h"
#include "vantor/core/foundation.h"
#include "vantor/core/host_hooks.h"

namespace {

void __cdecl host_lock() {}
void __cdecl host_unlock() {}
void __cdecl host_executor(vantor::post_fn*, void**) {}
void __cdecl host_flush() {}
std::int32_t __cdecl host_sink(const char*, std::int32_t) { return 0; }
std::int64_t __cdecl host_clock() { return 1; }

vantor_abi::rpt_api table_of(std::int32_t version, bool both_locks = true)
{
    vantor_abi::rpt_api t{};
    t.words[0] = static_cast<std::uint32_t>(version);
    auto set = [&](std::size_t offset, auto f) { t.words[offset / 4] = reinterpret_cast<std::uintptr_t>(f); };
    set(4, &host_lock);
    set(8, &host_unlock);
    set(20, &host_clock);
    set(116, &host_clock);
    set(120, &host_sink);
    set(128, &host_lock);
    if (both_locks) set(132, &host_unlock);
    set(136, &host_executor);
    set(140, &host_flush);
    return t;
}

}  // namespace

TEST(FoundationTable, EntriesAreReadFromTheirVersionOn)
{
    struct row {
        std::int32_t version;
        bool both_locks;
        bool process_lock, wall_clock, sink, global_lock, executor, flush;
    };
    const row rows[] = {
        {-1, true, false, false, false, false, false, false},
        {0, true, true, false, false, false, false, false},
        {15, true, true, true, false, false, false, false},
        {17, true, true, true, true, false, false, false},
        {18, false, true, true, true, false, false, false},
        {18, true, true, true, true, true, false, false},
        {20, true, true, true, true, true, true, false},
        {21, true, true, true, true, true, true, true},
    };
    for (const row& r : rows) {
        const vantor_abi::rpt_api t = table_of(r.version, r.both_locks);
        vantor::host_services h;
        vantor::copy_host_entries(t, h);
        const std::string where = "version " + std::to_string(r.version) + (r.both_locks ? "" : " one lock");
        EXPECT_EQ(h.process_lock != nullptr, r.process_lock) << where;
        EXPECT_EQ(h.monotonic_ms != nullptr, r.process_lock) << where;
        EXPECT_EQ(h.wall_ms != nullptr, r.wall_clock) << where;
        EXPECT_EQ(h.log_sink != nullptr, r.sink) << where;
        EXPECT_EQ(h.global_lock != nullptr, r.global_lock) << where;
        EXPECT_EQ(h.global_unlock != nullptr, r.global_lock) << where;
        EXPECT_EQ(h.default_executor != nullptr, r.executor) << where;
        EXPECT_EQ(h.log_flush != nullptr, r.flush) << where;
    }
}

namespace {

class map_registry final : public vantor::api_registry {
public:
    void* lookup(const char* name) override
    {
        auto it = names.find(name);
        return it == names.end() ? nullptr : it->second;
    }
    bool register_interface(const char* name, void* object) override { return names.emplace(name, object).second; }
    void* destroy_slot(unsigned) override { return this; }
    std::map<std::string, void*> names;
};

}  // namespace

TEST(ApiRegistry, LocalNamesMoveToTheHostsRegistry)
{
    vantor::reset_registries_for_testing();
    int a = 0, b = 0, c = 0;
    vantor::api_registry* local = vantor::api_registry_get();
    EXPECT_EQ(vantor::api_registry_get(), local);
    EXPECT_TRUE(local->register_interface("first", &a));
    EXPECT_FALSE(local->register_interface("first", &b)) << "a taken name stays with its first pointer";
    EXPECT_EQ(local->lookup("first"), &a);
    EXPECT_EQ(local->lookup("missing"), nullptr);

    map_registry host;
    vantor::set_parent_registry(&host);
    EXPECT_EQ(vantor::api_registry_get(), &host);
    EXPECT_EQ(host.lookup("first"), &a) << "handed over";
    EXPECT_TRUE(local->register_interface("later", &c));
    EXPECT_EQ(host.lookup("later"), &c) << "registrations through the old pointer land in the host's registry";
    EXPECT_EQ(local->lookup("first"), &a) << "the local map keeps its entries";
    vantor::set_parent_registry(nullptr);
    EXPECT_EQ(vantor::api_registry_get(), &host);
    vantor::reset_registries_for_testing();
}
