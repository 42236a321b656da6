#pragma once
// The file of the module (program or library) that holds this code.
#include <string>

namespace vantor {

// The UTF-8 path of the module that contains the foundation's code: inside a plug-in the
// plug-in's library, not the host's program. Raises internal error 46 when it cannot be had.
std::string module_path();

}  // namespace vantor
