#include "vantor/services/plugin_start.h"

#include "vantor/core/exception.h"
#include "vantor/core/foundation.h"
#include "vantor/core/log.h"
#include "vantor/services/metrics.h"

namespace vantor {
namespace {

const log_context plugin_log{"plugin"};

}  // namespace

bool plugin_bootstrap(const vantor_abi::rpt_api* table)
{
    try {
        foundation_init(table);
    } catch (...) {
        return false;
    }
    if (host_object()) {
        if (auto* m = static_cast<metric::stats_ifc_manager*>(host_query_interface("metrics_ifc"))) {
            metric::set_global_manager(m);
            return true;
        }
    }
    metric::set_global_manager(metric::create_local_manager());
    return true;
}

std::int32_t load_plugin(plugin_abi::host_ifc* host, const char* flag_module, void (*register_plugin)())
{
    try {
        set_host_object(host);
        (void)host->flag_api();
        if (auto* provider = static_cast<plugin_abi::flag_api_provider*>(host_query_interface("vantor_flag_api"))) {
            (void)provider->module_api(flag_module);
        }
        if (!plugin_bootstrap(host->runtime_api())) return 1;
        if (register_plugin) register_plugin();
        return 0;
    } catch (const exception& e) {
        plugin_log.log(VANTOR_FMT("plug-in start failed: %1%"), e.what());
    } catch (...) {
        plugin_log.write("plug-in start failed");
    }
    return 1;
}

}  // namespace vantor
