#include "vantor/core/wmi.h"

#include "vantor/core/com_thread.h"
#include "vantor/core/pcalltask.h"

namespace vantor {

wmi_client::wmi_client(std::unique_ptr<com_thread> thread) : thread_(std::move(thread)) {}

wmi_client::~wmi_client() = default;

std::unique_ptr<wmi_client> wmi_client::open(const std::string& namespace_name)
{
    return std::unique_ptr<wmi_client>(new wmi_client(std::make_unique<com_thread>(namespace_name)));
}

vantor_stl::vector<std::string> wmi_client::get_props(const std::string& class_name,
                                                      const vantor_stl::vector<std::string>& property_names)
{
    using query_method = vantor_stl::vector<std::string> (com_thread::*)(const std::string&,
                                                                         const vantor_stl::vector<std::string>&);
    using query_task =
        pcallmtask2<pcallmptr_<com_thread>, query_method, std::string, vantor_stl::vector<std::string>>;
    // The thread outlives the task: destroying the client closes the batch before the thread goes,
    // and a closed batch never runs what it still holds.
    auto* task = new query_task(thread_->executor(), pcallmptr_<com_thread>{thread_.get()}, &com_thread::get_props,
                                class_name, property_names);
    return task->take_fut().wait_for(query_timeout_ms);
}

vantor_stl::vector<std::string> wmi_get_props(const std::string& class_name,
                                              const vantor_stl::vector<std::string>& property_names)
{
    // Never destroyed: its thread serves the process until it ends.
    static wmi_client* const client = wmi_client::open("ROOT\\WMI").release();
    return client->get_props(class_name, property_names);
}

}  // namespace vantor
