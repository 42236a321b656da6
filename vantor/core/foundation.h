#pragma once
// The foundation's start: once per process, from the host's runtime function table (inside the
// host) or without one (helper processes), after which every service the table did not offer
// runs on the foundation's own implementation.
#include <cstdint>

#include "vantor/core/host_ifc.h"

namespace vantor {

// The oldest host table the foundation accepts.
constexpr std::int32_t min_host_table_version = 16;

// Starts the foundation. Throws vantor::exception: "vantor-rpt already initialized" on a second
// start, "vantor-rpt api missing" for a table older than min_host_table_version (after logging
// "invalid api provided (want=16, got=N)" on "vantor::init", also to the table's log sink when it
// has one).
void foundation_init(const vantor_abi::rpt_api* table);

bool foundation_started();

// Copies into `services` every entry of the table that its version lets the foundation read
// (the global lock only as a pair).
struct host_services;
void copy_host_entries(const vantor_abi::rpt_api& table, host_services& services);

// The host object given to load_plugin_v4 (null in helper processes); kept, never released.
void set_host_object(plugin_abi::host_ifc* host);
plugin_abi::host_ifc* host_object();

// The host's named interface, or null without a host or when its ABI version is below 9.
void* host_query_interface(const char* name);

// Marks the process as a helper process (no host).
void set_helper_process_mode();
bool helper_process_mode();

// Clears the started flag and the host entries (tests only).
void reset_foundation_for_testing();

}  // namespace vantor
