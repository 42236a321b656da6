#pragma once
// Registry helpers shared by the settings and flag tests: raw reads and writes below
// "Software\Tarvo Online\", removal of test keys, and a key that cannot take non-volatile
// subkeys (every store below it fails with ERROR_CHILD_MUST_BE_VOLATILE).
#include <string>

#include "vantor/core/text_convert.h"
#include "vantor/core/win_api.h"

namespace settings_test {

inline std::wstring product_key(const std::string& path)
{
    return L"Software\\Tarvo Online\\" + vantor::to_wide(vantor::encoding_utf8, path);
}

struct raw_value {
    LSTATUS status = ERROR_FILE_NOT_FOUND;
    DWORD type = 0;
    std::string bytes;
};

inline raw_value read_raw(HKEY hive, const std::string& path, const wchar_t* name)
{
    raw_value v;
    HKEY key = nullptr;
    v.status = RegOpenKeyExW(hive, product_key(path).c_str(), 0, KEY_QUERY_VALUE, &key);
    if (v.status != ERROR_SUCCESS) {
        return v;
    }
    DWORD size = 0;
    v.status = RegQueryValueExW(key, name, nullptr, &v.type, nullptr, &size);
    if (v.status == ERROR_SUCCESS) {
        v.bytes.resize(size);
        v.status = RegQueryValueExW(key, name, nullptr, &v.type, reinterpret_cast<BYTE*>(v.bytes.data()), &size);
    }
    RegCloseKey(key);
    return v;
}

inline LSTATUS write_raw(HKEY hive, const std::string& path, const wchar_t* name, DWORD type, const void* data,
                         std::size_t size)
{
    HKEY key = nullptr;
    LSTATUS r = RegCreateKeyExW(hive, product_key(path).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                nullptr);
    if (r != ERROR_SUCCESS) {
        return r;
    }
    r = RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), static_cast<DWORD>(size));
    RegCloseKey(key);
    return r;
}

inline LSTATUS write_text(HKEY hive, const std::string& path, const wchar_t* name, const std::wstring& text)
{
    return write_raw(hive, path, name, REG_SZ, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
}

inline void delete_tree(HKEY hive, const std::string& path) { RegDeleteTreeW(hive, product_key(path).c_str()); }

inline bool key_exists(HKEY hive, const std::string& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(hive, product_key(path).c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

// Creates the key as volatile; its non-volatile subkeys cannot be created.
inline LSTATUS make_volatile_key(HKEY hive, const std::string& path)
{
    HKEY key = nullptr;
    LSTATUS r = RegCreateKeyExW(hive, product_key(path).c_str(), 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS,
                                nullptr, &key, nullptr);
    if (r == ERROR_SUCCESS) {
        RegCloseKey(key);
    }
    return r;
}

}  // namespace settings_test
