#include "vantor/services/settings.h"

#include <mutex>

#include "vantor/core/locks.h"
#include "vantor/core/string_utils.h"
#include "vantor/core/text_convert.h"
#include "vantor/core/win_api.h"
#include "vantor/core/win_hkey.h"
#include "vantor/services/files_fs.h"

namespace vantor {
namespace settings {
namespace {

constexpr char product_prefix[] = "Software\\Tarvo Online\\";
constexpr char ini_file_name[] = "storage.ini";
constexpr int csidl_appdata = 0x1A;
constexpr int csidl_local_appdata = 0x1C;

struct state {
    std::int32_t mode = 1;  // 1 registry, 0 INI file
    std::string root;       // registry key prefix of the sections
    std::string folder;     // folder of the INI file
    value_map overrides;
};

// Destroyed at process exit.
state& shared()
{
    static state s;
    return s;
}

// Never deleted, so that threads still running while the process ends can take it.
CRITICAL_SECTION* settings_lock()
{
    static lasting_critical_section lock;
    return lock.get();
}

// The back end as one operation sees it.
struct back_end {
    std::int32_t mode;
    std::string root;
    std::string folder;
};

back_end current_back_end()
{
    cs_lock guard(settings_lock());
    return back_end{shared().mode, shared().root, shared().folder};
}

// The override for `key`, when there is one.
bool find_override(const std::string& key, std::string& value)
{
    cs_lock guard(settings_lock());
    auto it = shared().overrides.find(key);
    if (it == shared().overrides.end()) {
        return false;
    }
    value = it->second;
    return true;
}

void drop_override(const std::string& key)
{
    cs_lock guard(settings_lock());
    shared().overrides.erase(key);
}

void apply_defaults()
{
    bool need_folder = false;
    {
        cs_lock guard(settings_lock());
        if (shared().root.empty()) {
            shared().root = product_prefix;
        }
        need_folder = shared().folder.empty();
    }
    if (need_folder) {
        // Resolved without the lock: it touches the file system.
        std::string folder = resolve_folder(std::string());
        cs_lock guard(settings_lock());
        if (shared().folder.empty()) {
            shared().folder = std::move(folder);
        }
    }
}

std::wstring wide(const std::string& text) { return to_wide(encoding_utf8, text); }

std::string narrow(const wchar_t* text, std::size_t length)
{
    return from_wide(encoding_utf8, std::wstring(text, length));
}

HKEY hive_of(std::int32_t selector) noexcept
{
    switch (selector) {
    case machine_hive:
        return HKEY_LOCAL_MACHINE;
    case user_hive:
        return HKEY_CURRENT_USER;
    default:
        return nullptr;
    }
}

std::string with_backslashes(std::string path)
{
    for (char& c : path) {
        if (c == '/') {
            c = '\\';
        }
    }
    return path;
}

std::string ini_path(const std::string& folder) { return folder + "\\" + ini_file_name; }

// The text of one value; empty for a missing key or value, a failed query (values above
// 0x40000 bytes included) and types other than REG_SZ and REG_BINARY.
std::string read_value(HKEY hive, const std::string& path, const std::string& name)
{
    HKEY raw = nullptr;
    if (RegOpenKeyExW(hive, wide(path).c_str(), 0, KEY_QUERY_VALUE, &raw) != ERROR_SUCCESS) {
        return {};
    }
    win_hkey key(raw);
    heap_buffer buffer;
    DWORD size = heap_buffer::bytes;
    DWORD type = 0;
    if (RegQueryValueExW(key.get(), wide(name).c_str(), nullptr, &type,
                         reinterpret_cast<BYTE*>(buffer.data()), &size) != ERROR_SUCCESS) {
        return {};
    }
    return decode_value(buffer.data(), size, type);
}

// Short printable text as REG_SZ (without a terminating NUL), anything else as REG_BINARY.
LSTATUS write_value(HKEY key, const std::string& name, const std::string& text)
{
    bool printable = text.size() < 128;
    for (char c : text) {
        unsigned char b = static_cast<unsigned char>(c);
        if (b < 0x20 || b > 0x7E) {
            printable = false;
            break;
        }
    }
    std::wstring wide_name = wide(name);
    if (printable) {
        std::wstring wide_text(text.begin(), text.end());
        return RegSetValueExW(key, wide_name.c_str(), 0, REG_SZ,
                              reinterpret_cast<const BYTE*>(wide_text.data()),
                              static_cast<DWORD>(wide_text.size() * sizeof(wchar_t)));
    }
    return RegSetValueExW(key, wide_name.c_str(), 0, REG_BINARY, reinterpret_cast<const BYTE*>(text.data()),
                          static_cast<DWORD>(text.size()));
}

using sh_delete_key_fn = LSTATUS(WINAPI*)(HKEY key, const char* subkey);

}  // namespace

void split_value_name(std::string& path, std::string* name)
{
    path = with_backslashes(std::move(path));
    if (name == nullptr) {
        return;
    }
    std::size_t cut = path.rfind('\\');
    if (cut == std::string::npos) {
        return;
    }
    *name = path.substr(cut + 1);
    path.resize(cut);
}

std::string decode_value(const void* data, std::size_t size, std::uint32_t type)
{
    if (type == REG_SZ) {
        const auto* text = static_cast<const wchar_t*>(data);
        std::size_t length = size / sizeof(wchar_t);
        if (length > 0 && text[length - 1] == L'\0') {
            --length;
        }
        return narrow(text, length);
    }
    if (type == REG_BINARY) {
        return std::string(static_cast<const char*>(data), size);
    }
    return {};
}

std::string override_key(bool user, const std::string& path, const std::string& name,
                         const std::string& tag)
{
    std::string key = std::string(user ? "User_" : "System_") + tag + "_" + path;
    if (!ends_with_char(key, '\\')) {
        key += '\\';
    }
    if (!name.empty()) {
        key += '#';
        key += name;
    }
    return key;
}

std::string cache_folder()
{
    wchar_t buffer[1024] = {};
    if (fs::sh_get_folder_path_fn get = fs::bind_sh_get_folder_path()) {
        HRESULT result = get(nullptr, csidl_local_appdata, nullptr, 0, buffer);
        if (result == E_INVALIDARG) {
            result = get(nullptr, csidl_appdata, nullptr, 0, buffer);
        }
        if (FAILED(result)) {
            buffer[0] = L'\0';
        }
    }
    std::wstring path(buffer);
    if (path.empty()) {
        DWORD n = ExpandEnvironmentStringsW(L"%USERPROFILE%", buffer, 1024);
        if (n == 0 || n > 1024) {
            return {};
        }
        path = buffer;
        if (path == L"%USERPROFILE%") {
            return {};
        }
        if (path.back() != L'\\') {
            path += L'\\';
        }
        path += L"Application Data";
    }
    path += L"\\Tarvo Online Cache";
    CreateDirectoryW(path.c_str(), nullptr);
    return from_wide(encoding_utf8, path);
}

std::string resolve_folder(const std::string& folder)
{
    std::string result;
    if (folder.empty()) {
        result = fs::current_dir();
    } else if ((folder.size() > 2 && folder[1] == ':') || (folder.size() > 1 && folder[0] == '\\')) {
        result = folder;
    } else {
        result = cache_folder() + "\\" + folder;
    }
    // An existing folder is what the caller wants; a folder that cannot be made shows later as
    // values that cannot be stored.
    CreateDirectoryW(wide(result).c_str(), nullptr);
    return result;
}

void configure(const std::string& choice)
{
    for (const std::string& entry : split_nonempty(choice, ";")) {
        vantor_stl::vector<std::string> fields = split_nonempty(entry, ":");
        if (fields.empty()) {
            continue;
        }
        if (fields[0] == "disk") {
            std::string folder = resolve_folder(fields.size() > 1 ? fields[1] : std::string());
            cs_lock guard(settings_lock());
            shared().folder = std::move(folder);
            if (shared().root.empty()) {
                shared().mode = 0;
            }
        } else if (fields[0] == "registry") {
            std::string root = product_prefix;
            if (fields.size() > 1) {
                root += fields[1] + "\\";
            }
            cs_lock guard(settings_lock());
            shared().root = std::move(root);
            shared().mode = 1;
        }
    }
    apply_defaults();
}

std::string read(const std::string& section, const std::string& key)
{
    std::string value;
    if (find_override(section + "_" + key, value)) {
        return value;
    }
    apply_defaults();
    back_end store = current_back_end();
    if (store.mode == 1 && !store.root.empty()) {
        return read_value(HKEY_CURRENT_USER, store.root + section, key);
    }
    if (store.mode == 1) {
        return {};
    }
    wchar_t buffer[1024];
    DWORD n = GetPrivateProfileStringW(wide(section).c_str(), wide(key).c_str(), L"", buffer, 1024,
                                       wide(ini_path(store.folder)).c_str());
    return narrow(buffer, n);
}

void write(const std::string& section, const std::string& key, const std::string& value)
{
    apply_defaults();
    drop_override(section + "_" + key);
    back_end store = current_back_end();
    if (store.mode == 1 && !store.root.empty()) {
        HKEY raw = nullptr;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, wide(store.root + section).c_str(), 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &raw, nullptr) != ERROR_SUCCESS) {
            return;
        }
        win_hkey opened(raw);
        std::wstring wide_key = wide(key);
        // A subkey of the same name would hide the value from readers of the key's tree.
        RegDeleteKeyW(opened.get(), wide_key.c_str());
        if (value.empty()) {
            RegDeleteValueW(opened.get(), wide_key.c_str());
        } else {
            RegSetValueExW(opened.get(), wide_key.c_str(), 0, REG_BINARY,
                           reinterpret_cast<const BYTE*>(value.data()), static_cast<DWORD>(value.size()));
        }
        return;
    }
    if (store.mode == 0 && !store.folder.empty()) {
        WritePrivateProfileStringW(wide(section).c_str(), wide(key).c_str(), wide(value).c_str(),
                                   wide(ini_path(store.folder)).c_str());
    }
}

std::string read_machine(const std::string& path)
{
    std::string full = product_prefix + path;
    std::string name;
    split_value_name(full, &name);
    std::string value;
    if (find_override(override_key(false, full, name, "ex"), value)) {
        return value;
    }
    return read_value(HKEY_LOCAL_MACHINE, full, name);
}

void list_subkeys(const std::string& path, vantor_stl::vector<std::string>& out)
{
    HKEY raw = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, wide(with_backslashes(product_prefix + path)).c_str(), 0,
                      KEY_ENUMERATE_SUB_KEYS, &raw) != ERROR_SUCCESS) {
        return;
    }
    win_hkey key(raw);
    for (DWORD index = 0;; ++index) {
        wchar_t name[1025];
        DWORD length = 1025;
        LSTATUS r = RegEnumKeyExW(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (r == ERROR_NO_MORE_ITEMS || r == ERROR_INVALID_HANDLE) {
            break;
        }
        if (r == ERROR_SUCCESS) {
            out.push_back(narrow(name, length));
        }
    }
}

void delete_key(const std::string& path)
{
    std::string parent = product_prefix + path;
    std::string last;
    split_value_name(parent, &last);
    // An empty last component would make the parent itself the target: a path such as "" or
    // "section/" would wipe every section of the product.
    if (last.empty()) {
        return;
    }
    wchar_t system[MAX_PATH];
    UINT n = GetSystemDirectoryW(system, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) {
        return;
    }
    win_module shlwapi(LoadLibraryW((std::wstring(system, n) + L"\\shlwapi.dll").c_str()));
    if (!shlwapi) {
        return;
    }
    auto delete_tree = reinterpret_cast<sh_delete_key_fn>(
        reinterpret_cast<void*>(GetProcAddress(shlwapi.get(), "SHDeleteKeyA")));
    if (delete_tree == nullptr) {
        return;
    }
    HKEY raw = nullptr;
    // The 8-bit functions get the UTF-8 bytes as they are.
    if (RegOpenKeyExA(HKEY_CURRENT_USER, parent.c_str(), 0, KEY_ALL_ACCESS, &raw) != ERROR_SUCCESS) {
        return;
    }
    win_hkey key(raw);
    delete_tree(key.get(), last.c_str());
}

void load_values(std::int32_t selector, const std::string& path, value_map& out)
{
    HKEY hive = hive_of(selector);
    HKEY raw = nullptr;
    if (hive == nullptr ||
        RegOpenKeyExW(hive, wide(with_backslashes(product_prefix + path)).c_str(), 0, KEY_QUERY_VALUE, &raw) !=
            ERROR_SUCCESS) {
        return;
    }
    win_hkey key(raw);
    heap_buffer data;
    for (DWORD index = 0;; ++index) {
        wchar_t name[2048];
        DWORD name_length = 2048;
        DWORD type = 0;
        DWORD size = 0x3FFFF;
        LSTATUS r = RegEnumValueW(key.get(), index, name, &name_length, nullptr, &type,
                                  reinterpret_cast<BYTE*>(data.data()), &size);
        if (r == ERROR_MORE_DATA) {
            continue;
        }
        if (r != ERROR_SUCCESS) {
            break;
        }
        out[narrow(name, name_length)] = decode_value(data.data(), size, type);
    }
}

std::uint32_t store_value(std::int32_t selector, const std::string& path, const std::string& value) noexcept
{
    try {
        HKEY hive = hive_of(selector);
        if (hive == nullptr) {
            return ERROR_INVALID_PARAMETER;
        }
        std::string full = product_prefix + path;
        std::string name;
        split_value_name(full, &name);
        drop_override(override_key(selector == user_hive, full, name, "ex"));
        HKEY raw = nullptr;
        LSTATUS r = RegCreateKeyExW(hive, wide(full).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &raw,
                                    nullptr);
        if (r != ERROR_SUCCESS) {
            return static_cast<std::uint32_t>(r);
        }
        win_hkey key(raw);
        std::wstring wide_name = wide(name);
        RegDeleteKeyW(key.get(), wide_name.c_str());
        if (value.empty()) {
            r = RegDeleteValueW(key.get(), wide_name.c_str());
            return r == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : static_cast<std::uint32_t>(r);
        }
        return static_cast<std::uint32_t>(write_value(key.get(), name, value));
    } catch (...) {
        return ERROR_OUTOFMEMORY;
    }
}

void set_override_for_testing(const std::string& key, const std::string& value)
{
    cs_lock guard(settings_lock());
    shared().overrides[key] = value;
}

void reset_for_testing()
{
    cs_lock guard(settings_lock());
    shared().mode = 1;
    shared().root.clear();
    shared().folder.clear();
    shared().overrides.clear();
}

std::int32_t mode_for_testing() { return current_back_end().mode; }
std::string root_for_testing() { return current_back_end().root; }
std::string folder_for_testing() { return current_back_end().folder; }

}  // namespace settings
}  // namespace vantor
