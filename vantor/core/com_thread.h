#pragma once
// The COM worker thread of one WMI namespace: COM objects belong to the thread that made them,
// so one thread initialises COM, connects to the namespace once and runs every query that other
// threads post to it.
#include <atomic>
#include <cstdint>
#include <string>

#include "vantor/core/job.h"
#include "vantor/core/task_batch.h"
#include "vantor/core/thread.h"
#include "vantor/core/vector.h"

namespace vantor {

class get_props_adder;
struct wmi_connection;

// Owned by its client (wmi_client). Starts its thread when constructed; destruction closes the
// task batch (queued queries are dropped, never run) and joins the thread, which then releases
// the connection and leaves COM. Connection failures are logged on "wmi" and leave the thread
// without services; every query then raises internal error 96.
class com_thread final : public thread {
public:
    explicit com_thread(std::string namespace_name);
    ~com_thread() override;

    // Where queries are posted; any thread. The thread object must outlive every post.
    executor_handle executor() noexcept { return batch_.executor(); }

    // "SELECT * FROM " + class_name, one text per property (see wmi_props_collector). Runs on
    // this thread only (internal error otherwise). Raises internal error 96 without a
    // connection and 111 when the query fails; a property that cannot be read or has a type
    // other than text, boolean, empty or null is logged and skipped.
    vantor_stl::vector<std::string> get_props(const std::string& class_name,
                                              const vantor_stl::vector<std::string>& property_names);
    // The same, handing each value to `out`.
    void get_props_into(const std::string& class_name, const vantor_stl::vector<std::string>& property_names,
                        get_props_adder& out);

protected:
    void run() override;

private:
    task_batch batch_;
    wmi_connection* connection_ = nullptr;  // set by the thread body while it runs
    std::string namespace_;
    std::atomic<std::uint32_t> thread_id_{0};
};

}  // namespace vantor
