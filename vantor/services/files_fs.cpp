#include "vantor/services/files_fs.h"

#include <mutex>
#include <optional>
#include <vector>

#include "vantor/core/exception.h"
#include "vantor/core/log.h"
#include "vantor/core/text_convert.h"
#include "vantor/core/win_api.h"
#include "vantor/services/files_access.h"
#include "vantor/services/files_dir.h"
#include "vantor/services/paths.h"

namespace vantor {
namespace fs {
namespace {

constexpr log_context tree_log{"create_directory_tree"};

std::wstring wide(const std::string& path)
{
    return to_wide(encoding_utf8, path);
}

std::string narrow(const wchar_t* text, std::size_t length)
{
    return from_wide(encoding_utf8, std::wstring(text, length));
}

// Calls `query` (buffer, capacity in characters) -> characters written, or the capacity needed
// when the buffer is too small, as GetTempPathW and friends do. Starts with `initial`
// characters and grows the buffer while the answer does not fit. None when the call fails.
template <typename Query>
std::optional<std::string> query_text(DWORD initial, Query query)
{
    std::vector<wchar_t> buffer(initial);
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD n = query(buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) {
            return std::nullopt;
        }
        if (n < buffer.size()) {
            return narrow(buffer.data(), n);
        }
        buffer.resize(static_cast<std::size_t>(n) + 1);
    }
    return std::nullopt;
}

DWORD attributes_of(const std::string& path)
{
    return GetFileAttributesW(wide(path).c_str());
}

bool is_directory_path(const std::string& path)
{
    DWORD attributes = attributes_of(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Creates one directory; true when it was made or already exists as a directory.
bool make_directory(const std::string& path)
{
    if (CreateDirectoryW(wide(path).c_str(), nullptr)) {
        return true;
    }
    DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS) {
        return true;
    }
    // Drive roots and network shares answer with other errors (access denied, bad name) even
    // though they exist; a path that is already a directory is what the caller asked for.
    bool exists_already = is_directory_path(path);
    SetLastError(error);
    return exists_already;
}

}  // namespace

sh_get_folder_path_fn bind_sh_get_folder_path()
{
    static sh_get_folder_path_fn bound = nullptr;
    static std::once_flag once;
    std::call_once(once, [] {
        wchar_t system[MAX_PATH];
        UINT n = GetSystemDirectoryW(system, MAX_PATH);
        if (n == 0 || n >= MAX_PATH) {
            return;
        }
        std::wstring dll = std::wstring(system, n) + L"\\shell32.dll";
        // The module stays loaded for the life of the process.
        HMODULE shell32 = LoadLibraryW(dll.c_str());
        if (shell32 != nullptr) {
            bound = reinterpret_cast<sh_get_folder_path_fn>(
                reinterpret_cast<void*>(GetProcAddress(shell32, "SHGetFolderPathW")));
        }
    });
    return bound;
}


std::string temp_path()
{
    std::optional<std::string> path =
        query_text(2048, [](wchar_t* buffer, DWORD size) { return GetTempPathW(size, buffer); });
    if (!path) {
        throw internal_error(1077);
    }
    return *path;
}

std::string shell_folder(int csidl)
{
    sh_get_folder_path_fn get = bind_sh_get_folder_path();
    wchar_t buffer[MAX_PATH] = {};
    if (get == nullptr || get(nullptr, csidl, nullptr, 0 /* SHGFP_TYPE_CURRENT */, buffer) != S_OK) {
        throw internal_error(1023);
    }
    return from_wide(encoding_utf8, buffer);
}

std::string module_path()
{
    // GetModuleFileNameW cuts the name to the buffer and returns the buffer's size when it
    // does not fit.
    std::vector<wchar_t> buffer(2048);
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) {
            break;
        }
        if (n < buffer.size()) {
            return narrow(buffer.data(), n);
        }
        buffer.resize(buffer.size() * 4);
    }
    throw internal_error(957);
}

std::string module_dir()
{
    return parent_path(module_path());
}

void enter_module_dir()
{
    set_current_dir(module_dir());
}

std::string current_dir()
{
    std::optional<std::string> path =
        query_text(260, [](wchar_t* buffer, DWORD size) { return GetCurrentDirectoryW(size, buffer); });
    if (!path) {
        throw internal_error(111);
    }
    return *path;
}

void set_current_dir(const std::string& path)
{
    notify_file_access(path, file_access::inspect);
    if (!SetCurrentDirectoryW(wide(path).c_str())) {
        throw internal_error(125);
    }
}

std::string full_path(const std::string& path)
{
    notify_file_access(path, file_access::inspect);
    std::wstring w = wide(path);
    std::optional<std::string> full = query_text(1040, [&w](wchar_t* buffer, DWORD size) {
        return GetFullPathNameW(w.c_str(), size, buffer, nullptr);
    });
    if (!full) {
        throw internal_error(141);
    }
    return *full;
}

bool exists(const std::string& path) noexcept
{
    try {
        notify_file_access(path, file_access::inspect);
        return attributes_of(path) != INVALID_FILE_ATTRIBUTES;
    } catch (...) {
        // Only the text conversion can throw, and a path it cannot convert does not exist.
        return false;
    }
}

bool is_file(const std::string& path)
{
    notify_file_access(path, file_access::inspect);
    DWORD attributes = attributes_of(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        throw internal_error(68);
    }
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool is_not_directory(const std::string& path)
{
    notify_file_access(path, file_access::inspect);
    DWORD attributes = attributes_of(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        throw exception::make_win32_error_for("GetFileAttributesW", path);
    }
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

void delete_file(const std::string& path)
{
    notify_file_access(path, file_access::write);
    if (!DeleteFileW(wide(path).c_str())) {
        throw exception::make_win32_error_for("DeleteFileW", path);
    }
}

void create_directory(const std::string& path)
{
    notify_file_access(path, file_access::write);
    if (!make_directory(path)) {
        throw exception::make_win32_error_for("CreateDirectoryW", path);
    }
}

void create_directory_tree(const std::string& path)
{
    auto create = [](const std::string& prefix) {
        notify_file_access(prefix, file_access::write);
        if (!make_directory(prefix)) {
            exception error = exception::make_win32_error_for("CreateDirectoryW", prefix);
            tree_log.log(VANTOR_FMT("Cannot create dir %1%"), prefix);
            throw error;
        }
    };
    // The empty prefix of a rooted path names no directory, and neither do the first prefixes
    // of a UNC path ("", "\", "\\server"); its share is a directory that exists.
    bool unc = path.starts_with("\\\\");
    std::size_t index = 0;
    for (std::size_t at = path.find('\\'); at != std::string::npos; at = path.find('\\', at + 1)) {
        std::size_t separator = index++;
        if (at == 0 || (unc && separator < 3)) {
            continue;
        }
        create(path.substr(0, at));
    }
    if (!path.empty() && path.back() != '\\') {
        create(path);
    }
}

void remove_directory(const std::string& path)
{
    notify_file_access(path, file_access::write);
    if (!RemoveDirectoryW(wide(path).c_str())) {
        throw exception::make_win32_error_for("RemoveDirectoryW", path);
    }
}

void remove_tree(const std::string& path)
{
    notify_file_access(path, file_access::inspect);
    DWORD attributes = attributes_of(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        throw internal_error(653);
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        delete_file(path);
        return;
    }
    // A junction or directory symbolic link is removed as the link: walking into it would
    // delete what it points to, which lies outside the tree.
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        remove_directory(path);
        return;
    }
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(wide(path + "\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        throw internal_error(661);
    }
    bool failed = false;
    do {
        const wchar_t* name = data.cFileName;
        if (name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'))) {
            continue;
        }
        try {
            remove_tree(path + "\\" + from_wide(encoding_utf8, name));
        } catch (const exception&) {
            // The rest of the tree is still removed; the failure is reported once at the end.
            failed = true;
        }
    } while (FindNextFileW(find, &data));
    FindClose(find);
    // A directory that still holds what could not be removed cannot go either; the failure of
    // its entries is the one to report.
    if (failed) {
        throw internal_error(713);
    }
    remove_directory(path);
}

void move_file(const std::string& from, const std::string& to)
{
    notify_file_access(from, file_access::write);
    notify_file_access(to, file_access::write);
    std::wstring wfrom = wide(from);
    std::wstring wto = wide(to);
    if (MoveFileW(wfrom.c_str(), wto.c_str())) {
        return;
    }
    if (!CopyFileW(wfrom.c_str(), wto.c_str(), TRUE)) {
        throw exception::make_win32_error("CopyFileW");
    }
    if (!DeleteFileW(wfrom.c_str())) {
        throw exception::make_win32_error("DeleteFileW");
    }
}

void copy_file(const std::string& from, const std::string& to)
{
    notify_file_access(from, file_access::read);
    notify_file_access(to, file_access::write);
    if (!CopyFileW(wide(from).c_str(), wide(to).c_str(), FALSE)) {
        throw internal_error(362);
    }
}

void list_dir(vantor_stl::vector<std::string>& out, const std::string& pattern)
{
    dir_iterator walk;
    walk.open(pattern);
    while (std::optional<dir_entry> entry = walk.next()) {
        out.push_back(walk.prefix() + entry->name);
    }
}

}  // namespace fs
}  // namespace vantor
