#pragma once
// Small read-only facts about the machine and the process: processor count and SIMD features,
// environment variables, the last Windows error as text, a virtual-machine guess, the computer
// and domain names, and the product's per-user registry values. Any thread; nothing here keeps
// state.
#include <cstdint>
#include <string>

#include "vantor/core/map.h"

namespace vantor {

// The number of processors (GetSystemInfo, looked up by name on every call); 1 when it cannot
// be had or reports 0.
std::int32_t processor_count() noexcept;

struct cpu_features {
    // Empties `out`, then adds "MMX", "SSE" and "SSE2" as the processor reports them (CPUID).
    static void detect(vantor_stl::set<std::string>& out);
};

// The UTF-8 value of an environment variable; empty when it is missing, empty, or 256
// characters long or longer.
std::string get_env(const std::string& name);

// "0x" and the calling thread's last error in lower-case hexadecimal ("0x5", "0x0").
std::string last_error_hex();

// 1 "Virtual Machine", 2 "VMware", 3 "VirtualBox", 4 "HVM domU" (case-sensitive prefixes of a
// system product name); 0 otherwise.
std::int32_t virtual_machine_kind(const std::string& product_name);

// The computer name and its domain or workgroup, from the workstation service, else the DNS
// names, else the NetBIOS name with the legacy workgroup value (the domain may then be empty).
// Raises internal error 129 only when not even GetComputerNameW answers.
void computer_and_domain_name(std::string& computer, std::string& domain);

// True when HKEY_CURRENT_USER "Software\Tarvo Online\" + path exists, where the text after the
// last "/" or "\" names a value that must exist as well (a path ending in a separator asks for
// the key alone). Never raises.
bool read_product_user_value(const std::string& path) noexcept;

}  // namespace vantor
