#pragma once
// WMI property queries. Each client owns the COM thread of one namespace; callers on any thread
// post a query to it and wait for the answer.
#include <cstdint>
#include <memory>
#include <string>

#include "vantor/core/vector.h"

namespace vantor {

class com_thread;

// A client of one WMI namespace ("ROOT\CIMV2", "ROOT\WMI"). Any thread may query; destruction
// (from a thread that is not the client's COM thread) stops the COM thread.
class wmi_client {
public:
    // Starts the COM thread for the namespace; connecting happens on that thread and a failure
    // shows only in the queries (internal error 96).
    static std::unique_ptr<wmi_client> open(const std::string& namespace_name);

    wmi_client(const wmi_client&) = delete;
    wmi_client& operator=(const wmi_client&) = delete;
    ~wmi_client();

    // Runs com_thread::get_props on the client's thread and returns its texts, one per property,
    // or rethrows what the query raised. Gives up with "/timeout" after query_timeout_ms.
    vantor_stl::vector<std::string> get_props(const std::string& class_name,
                                              const vantor_stl::vector<std::string>& property_names);

    static constexpr std::int64_t query_timeout_ms = 120000;

private:
    explicit wmi_client(std::unique_ptr<com_thread> thread);

    std::unique_ptr<com_thread> thread_;
};

// A query of the process-wide "ROOT\WMI" client, made on first use and kept for the life of the
// process.
vantor_stl::vector<std::string> wmi_get_props(const std::string& class_name,
                                              const vantor_stl::vector<std::string>& property_names);

}  // namespace vantor
