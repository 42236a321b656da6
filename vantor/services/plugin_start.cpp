#include "vantor/services/plugin_start.h"

#include "vantor/core/exception.h"
#include "vantor/core/foundation.h"
#include "vantor/core/log.h"
#include "vantor/services/flag.h"
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
    // The first flag::get_api binds the process's flag API: inside the host the host's, chosen
    // by load_plugin before the start.
    if (host_object()) {
        if (auto* m = static_cast<metric::stats_ifc_manager*>(host_query_interface("metrics_ifc"))) {
            metric::set_global_manager(m);
            flag::get_api();
            return true;
        }
    }
    flag::get_api();
    metric::set_global_manager(metric::create_local_manager());
    return true;
}

std::int32_t load_plugin(plugin_abi::host_ifc* host, const char* flag_module, void (*register_plugin)())
{
    try {
        set_host_object(host);
        flag::current_api = static_cast<flag::init_item_api*>(host->flag_api());
        if (auto* provider = static_cast<plugin_abi::flag_api_provider*>(host_query_interface("vantor_flag_api"))) {
            if (void* module_api = provider->module_api(flag_module)) {
                flag::current_api = static_cast<flag::init_item_api*>(module_api);
            }
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
