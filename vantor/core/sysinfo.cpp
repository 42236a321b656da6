#include "vantor/core/sysinfo.h"

#include <cpuid.h>

#include <cstdio>
#include <cstring>

#include "vantor/core/log.h"
#include "vantor/core/string_utils.h"
#include "vantor/core/sysinfo_library.h"
#include "vantor/core/text_convert.h"
#include "vantor/core/win_api.h"
#include "vantor/core/win_hkey.h"

namespace vantor {
namespace {

constexpr log_context sysinfo_log{"sysinfo"};

// The level-100 record of NetWkstaGetInfo, as the platform's network headers declare it.
struct workstation_info_100 {
    DWORD platform_id;
    wchar_t* computer_name;
    wchar_t* lan_group;
    DWORD version_major;
    DWORD version_minor;
};

using net_wksta_get_info_fn = DWORD(WINAPI*)(wchar_t* server, DWORD level, BYTE** info);
using net_api_buffer_free_fn = DWORD(WINAPI*)(void* buffer);
using get_computer_name_ex_fn = BOOL(WINAPI*)(int format, wchar_t* buffer, DWORD* size);

constexpr int computer_name_dns_hostname = 1;
constexpr int computer_name_dns_domain = 2;

std::string utf8(const wchar_t* text) { return from_wide(encoding_utf8, std::wstring(text)); }

// Stage 1: the workstation service's names. True when both came out non-empty.
bool names_from_workstation(std::string& computer, std::string& domain)
{
    dynamic_library netapi;
    netapi.load("netapi32.dll");
    net_wksta_get_info_fn get_info = nullptr;
    net_api_buffer_free_fn free_buffer = nullptr;
    bind_proc(netapi.get(), "NetWkstaGetInfo", get_info);
    bind_proc(netapi.get(), "NetApiBufferFree", free_buffer);
    BYTE* raw = nullptr;
    if (get_info(nullptr, 100, &raw) != 0) {
        throw internal_error(77);
    }
    if (raw != nullptr) {
        const auto* info = reinterpret_cast<const workstation_info_100*>(raw);
        try {
            if (info->computer_name != nullptr) {
                computer = utf8(info->computer_name);
            }
            if (info->lan_group != nullptr) {
                domain = utf8(info->lan_group);
            }
        } catch (...) {
            free_buffer(raw);
            throw;
        }
        free_buffer(raw);
    }
    return !computer.empty() && !domain.empty();
}

// Stage 2: the DNS host and domain names. Raises when either is missing.
void names_from_dns(std::string& computer, std::string& domain)
{
    dynamic_library kernel32;
    kernel32.load("kernel32.dll");
    get_computer_name_ex_fn get_name = nullptr;
    bind_proc(kernel32.get(), "GetComputerNameExW", get_name);
    wchar_t buffer[1024];
    DWORD size = 1024;
    if (!get_name(computer_name_dns_hostname, buffer, &size)) {
        throw internal_error(104);
    }
    computer = from_wide(encoding_utf8, std::wstring(buffer, size));
    size = 1024;
    if (!get_name(computer_name_dns_domain, buffer, &size)) {
        throw internal_error(110);
    }
    domain = from_wide(encoding_utf8, std::wstring(buffer, size));
    if (computer.empty() || domain.empty()) {
        throw internal_error(115);
    }
}

// The legacy workgroup value of old network set-ups; empty when it is absent.
std::string legacy_workgroup()
{
    HKEY raw = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Services\\VxD\\VNETSUP", 0,
                      KEY_QUERY_VALUE, &raw) != ERROR_SUCCESS) {
        return {};
    }
    win_hkey key(raw);
    // One spare character keeps the text terminated when the value fills the buffer.
    wchar_t buffer[1025] = {};
    DWORD size = 2048;
    DWORD type = 0;
    if (RegQueryValueExW(key.get(), L"Workgroup", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
        ERROR_SUCCESS) {
        return {};
    }
    return from_wide(encoding_utf8, std::wstring(buffer));
}

}  // namespace

std::int32_t processor_count() noexcept
{
    using get_system_info_fn = void(WINAPI*)(SYSTEM_INFO*);
    HMODULE kernel32 = LoadLibraryA("kernel32.dll");
    if (kernel32 == nullptr) {
        return 1;
    }
    auto get = reinterpret_cast<get_system_info_fn>(
        reinterpret_cast<void*>(GetProcAddress(kernel32, "GetSystemInfo")));
    DWORD count = 0;
    if (get != nullptr) {
        SYSTEM_INFO info{};
        get(&info);
        count = info.dwNumberOfProcessors;
    }
    FreeLibrary(kernel32);
    return count == 0 ? 1 : static_cast<std::int32_t>(count);
}

void cpu_features::detect(vantor_stl::set<std::string>& out)
{
    out.clear();
    unsigned eax = 0;
    unsigned ebx = 0;
    unsigned ecx = 0;
    unsigned edx = 0;
    // Leaf 0 gives the highest leaf; the feature bits are those of leaf 1.
    if (__get_cpuid_max(0, nullptr) == 0 || __get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) {
        return;
    }
    if ((edx & (1u << 23)) != 0) {
        out.insert("MMX");
    }
    if ((edx & (1u << 25)) != 0) {
        out.insert("SSE");
    }
    if ((edx & (1u << 26)) != 0) {
        out.insert("SSE2");
    }
}

std::string get_env(const std::string& name)
{
    wchar_t buffer[256];
    DWORD n = GetEnvironmentVariableW(to_wide(encoding_utf8, name).c_str(), buffer, 256);
    if (n == 0 || n > 255) {
        return {};
    }
    return from_wide(encoding_utf8, std::wstring(buffer, n));
}

std::string last_error_hex()
{
    char text[16];
    std::snprintf(text, sizeof(text), "0x%lx", static_cast<unsigned long>(GetLastError()));
    return text;
}

std::int32_t virtual_machine_kind(const std::string& product_name)
{
    if (starts_with(product_name, "Virtual Machine")) {
        return 1;
    }
    if (starts_with(product_name, "VMware")) {
        return 2;
    }
    if (starts_with(product_name, "VirtualBox")) {
        return 3;
    }
    if (starts_with(product_name, "HVM domU")) {
        return 4;
    }
    return 0;
}

void computer_and_domain_name(std::string& computer, std::string& domain)
{
    try {
        if (names_from_workstation(computer, domain)) {
            return;
        }
    } catch (const exception& e) {
        sysinfo_log.log(VANTOR_FMT("workstation names unavailable: %1%"), std::string(e.what()));
    }
    try {
        names_from_dns(computer, domain);
        return;
    } catch (const exception& e) {
        sysinfo_log.log(VANTOR_FMT("DNS names unavailable: %1%"), std::string(e.what()));
    }
    computer.clear();
    domain.clear();
    wchar_t buffer[1024];
    DWORD size = 1024;
    if (!GetComputerNameW(buffer, &size)) {
        throw internal_error(129);
    }
    computer = from_wide(encoding_utf8, std::wstring(buffer, size));
    try {
        domain = legacy_workgroup();
    } catch (...) {
        // The legacy value is optional; the domain stays empty.
    }
}

bool read_product_user_value(const std::string& path) noexcept
{
    try {
        std::string key = "Software\\Tarvo Online\\" + path;
        std::string name;
        for (char& c : key) {
            if (c == '/') {
                c = '\\';
            }
        }
        std::size_t cut = key.rfind('\\');
        name = key.substr(cut + 1);
        key.resize(cut);
        HKEY raw = nullptr;
        // The narrow text goes to the ANSI functions as it is.
        if (RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_QUERY_VALUE, &raw) != ERROR_SUCCESS) {
            return false;
        }
        win_hkey opened(raw);
        if (name.empty()) {
            return true;
        }
        return RegQueryValueExA(opened.get(), name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    } catch (...) {
        return false;
    }
}

}  // namespace vantor
