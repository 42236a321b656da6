#pragma once
// A stand-in for the host program that loads the plug-ins: a host object, a runtime function
// table built at a chosen version, a named-interface registry and a log sink that keeps every
// line. Written from the plug-in's side of the contract only; it links nothing of the system
// (the ABI declarations are headers) and is never part of a shipped binary.
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "vantor/core/host_ifc.h"

namespace kova_testing {

// The host's registry: a plain map, no hand-over of its own.
class host_registry final : public vantor::api_registry {
public:
    void* lookup(const char* name) override;
    bool register_interface(const char* name, void* object) override;
    void* destroy_slot(unsigned) override { return this; }

    std::vector<std::string> names();

private:
    std::mutex lock_;
    std::map<std::string, void*> map_;
};

struct host_options {
    std::int32_t table_version = 24;
    std::int32_t abi_version = 9;  // the host object's slot 0
    bool global_lock_pair = true;  // both entries 128 and 132 (else only 128)
};

class test_host final : public plugin_abi::host_ifc {
public:
    explicit test_host(const host_options& options);

    std::int32_t version() override { return options_.abi_version; }
    vantor_abi::rpt_api* runtime_api() override { return &table_; }
    void slot2() override {}
    void translate(const char*, const char*, std::int32_t, void*, void*) override {}
    void slot4() override {}
    void* state_root() override { return nullptr; }
    void slot6() override {}
    void slot7() override {}
    void register_session_plugin(const char* type_name, void*, void*) override;
    void attach_callback(vantor_abi::str_view, void*, std::int32_t) override {}
    void post(vantor_abi::str_view, void*) override {}
    void register_counter(const char* name, std::int32_t* counter) override;
    void slot12() override {}
    void* flag_api() override { return nullptr; }
    void slot14() override {}
    void* find_interface(const char* name) override;

    host_registry& registry() { return registry_; }
    std::vector<std::string> log_lines();
    std::vector<std::string> calls();
    std::int32_t global_lock_calls() const { return global_lock_calls_; }

private:
    void record(std::string call);
    void set(std::size_t byte_offset, const void* entry);

    host_options options_;
    vantor_abi::rpt_api table_{};
    host_registry registry_;
    std::mutex lock_;
    std::vector<std::string> calls_;
    std::int32_t failed_thread_starts_ = 0;
    std::int32_t global_lock_calls_ = 0;
};

// The host whose table entries are being called (one per process).
test_host* current_host();

}  // namespace kova_testing
