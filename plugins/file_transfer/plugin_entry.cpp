// The exported entry through which the host loads the file-transfer plug-in.
#include <cstdint>

#include "vantor/core/host_ifc.h"
#include "vantor/services/plugin_start.h"

extern "C" std::int32_t __cdecl load_plugin_v4(plugin_abi::host_ifc* host)
{
    return vantor::load_plugin(host, "file_transfer", nullptr);
}
