#pragma once
// The process's named-interface registry: the host's when its function table gave one, else the
// module's own, created on first use. Once the host's registry is known, the names registered
// locally are handed over to it.
#include "vantor/core/host_ifc.h"

namespace vantor {

api_registry* api_registry_get();

// Adopts the host's registry; a null registry, or the one already adopted, changes nothing.
void set_parent_registry(api_registry* registry);

// Forgets the host's registry and the local one (tests only; leaks nothing registered).
void reset_registries_for_testing();

}  // namespace vantor
