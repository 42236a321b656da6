#pragma once
// The start of a plug-in inside the host, and the bootstrap shared with the helper processes.
#include <cstdint>

#include "vantor/core/host_ifc.h"

namespace vantor {

// Starts the foundation (from the table, or local without one) and the metrics manager; false
// when the foundation refused to start.
bool plugin_bootstrap(const vantor_abi::rpt_api* table);

// The body of a plug-in's load_plugin_v4: keeps the host, takes the host's flag API (or the
// module API that the host's flag provider gives for `flag_module`), starts the foundation from
// the host's table and then registers the plug-in. 0 when registered, 1 when the foundation
// refused to start or the registration failed. Nothing escapes.
std::int32_t load_plugin(plugin_abi::host_ifc* host, const char* flag_module, void (*register_plugin)());

}  // namespace vantor
