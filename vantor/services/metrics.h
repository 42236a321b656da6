#pragma once
// Named metrics: a fixed set of buckets plus a total count and sum, updated with atomic additions
// from any thread and, over the shared block, from several processes. All metrics hang off one
// process-wide manager: the host's when it offers one, else a local manager over a new shared
// block, else (until start-up picks one) the do-nothing manager. Registration never raises:
// every refusal gives the do-nothing metric, so use sites add unconditionally.
//
// stats_ifc and stats_ifc_manager cross the host boundary: their virtual operations keep the
// order below and their arguments have fixed widths.
#include <cstdint>

#include "vantor/core/win_api.h"

namespace vantor::metric {

// A text that is not zero-terminated.
struct text_ref {
    std::uint32_t length;
    const char* text;
};

// 36 bytes in the 32-bit build; `size` must hold descriptor_size.
struct descriptor {
    std::uint32_t size;
    text_ref name;
    text_ref units;
    std::uint32_t type;
    std::int32_t minimum;
    std::int32_t maximum;
    std::uint32_t buckets;
};
constexpr std::uint32_t descriptor_size = 36;
static_assert(sizeof(void*) != 4 || sizeof(descriptor) == descriptor_size);

// Allocated with malloc (4 x n + 24 bytes), released by the caller with free.
struct snapshot {
    std::uint32_t bucket_count;
    std::uint32_t count;
    std::int64_t sum;
    std::uint32_t buckets[1];
};
constexpr std::uint32_t max_snapshot_buckets = 255;

// One metric. Never destroyed by its users; metrics live until the process ends.
class stats_ifc {
public:
    // The slot that the host's compiler uses for the destructor; never called.
    virtual void* destroy_slot(unsigned flags) = 0;
    virtual std::int32_t version() = 0;  // 2
    virtual const descriptor* get_descriptor() = 0;
    virtual void add(std::int32_t value, std::int32_t weight) = 0;
    // Fills the total count and sum; returns the bucket count.
    virtual std::uint32_t totals(std::uint32_t* count, std::int64_t* sum) = 0;
    virtual bool bucket(std::uint32_t index, std::int32_t* lower, std::int32_t* upper, std::uint32_t* count) = 0;
    virtual snapshot* make_snapshot() = 0;
    // Refills a snapshot whose bucket count matches; others are left alone.
    virtual void update_snapshot(snapshot* s) = 0;

protected:
    ~stats_ifc() = default;
};

using metric_factory = stats_ifc*(__cdecl*)(const char* name);

class stats_ifc_manager {
public:
    virtual std::int32_t version() = 0;  // 2
    virtual std::uint32_t descriptor_hash(const descriptor* d) = 0;
    virtual stats_ifc* get_or_add(const descriptor* d, bool copy_strings) = 0;
    // The metric registered under the name; without one, the factory's result is registered
    // (null without a factory).
    virtual stats_ifc* get_or_add_named(const char* name, metric_factory factory) = 0;
    virtual stats_ifc* at(std::uint32_t index) = 0;
    // The handle and size of the shared block to hand to a child process.
    virtual bool shared_block(HANDLE* handle, std::uint32_t* size) = 0;
    // Picks up metrics that other processes registered in the shared block.
    virtual void refresh() = 0;

protected:
    ~stats_ifc_manager() = default;
};

// The FNV-1a based hash of a descriptor's name, type and range (0 for an unusable descriptor).
std::uint32_t hash_descriptor(const descriptor& d);

// The do-nothing metric and manager.
stats_ifc* dummy_metric();
stats_ifc_manager* dummy_manager();

stats_ifc_manager* global_manager();
// Replaces the process-wide manager; a null manager is ignored.
void set_global_manager(stats_ifc_manager* manager);

// A manager over a new shared block (process memory when the block cannot be made).
stats_ifc_manager* create_local_manager();
// A manager over the block handed over by a parent, or null when the handle or block is bad.
// The caller closes its own handle and installs the manager.
stats_ifc_manager* open_shared_manager(HANDLE handle, std::uint32_t size);

// Registration on the global manager: a histogram of a kind (4 to 14) or an enumeration of n
// values; anything refused gives the do-nothing metric.
stats_ifc* add_histogram(std::uint32_t kind, const char* name);
stats_ifc* add_enum(const char* name, std::int32_t n);
stats_ifc* register_checked(stats_ifc_manager* manager, const descriptor& d);

// The 51 bounds of a log histogram over minimum..maximum (a process-wide constant per pair).
const std::int32_t* log_bounds(std::int32_t minimum, std::int32_t maximum);

// Factories for use sites, which keep the result in a static of their own:
//   static stats_ifc* m = global_manager()->get_or_add_named("x", &histogram_factory<9>);
template <std::uint32_t Kind>
stats_ifc* __cdecl histogram_factory(const char* name)
{
    return add_histogram(Kind, name);
}

template <std::int32_t N>
stats_ifc* __cdecl enum_factory(const char* name)
{
    return add_enum(name, N);
}

}  // namespace vantor::metric
