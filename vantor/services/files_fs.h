#pragma once
// File-system helpers on UTF-8 paths: well-known folders, the current folder, attributes,
// creation, removal, moving and copying. Each helper announces the path to the host's
// file-access hook (files_access.h) before touching it. Failures raise vantor::exception: an
// internal error ("Error in line " and a number) or the Windows error of the failing function.
// Any thread.
#include <string>
#include <string_view>

#include "vantor/core/vector.h"
#include "vantor/core/win_api.h"

namespace vantor {
namespace fs {

// SHGetFolderPathW from the system folder's shell32.dll, bound once (the library stays loaded);
// null when it cannot be had.
using sh_get_folder_path_fn = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPWSTR);
sh_get_folder_path_fn bind_sh_get_folder_path();

// The temporary folder, ending in a backslash (GetTempPathW).
std::string temp_path();

// A shell folder by its CSIDL number, current value, no token (SHGetFolderPathW, bound at run
// time from the system's shell32.dll).
std::string shell_folder(int csidl);

// The full path of the process's program file, and its folder.
std::string module_path();
std::string module_dir();
// Makes the program file's folder the current directory.
void enter_module_dir();

std::string current_dir();
void set_current_dir(const std::string& path);

// The absolute form of `path` (GetFullPathNameW).
std::string full_path(const std::string& path);

// True when the path names anything; never throws.
bool exists(const std::string& path) noexcept;
// True for anything that is not a directory; a missing path raises internal error 68.
bool is_file(const std::string& path);
// The same test; a path whose attributes cannot be read raises the Windows error of
// "GetFileAttributesW".
bool is_not_directory(const std::string& path);

// Windows errors of "DeleteFileW", "CreateDirectoryW" and "RemoveDirectoryW" with the path.
void delete_file(const std::string& path);
// An existing directory is fine.
void create_directory(const std::string& path);
// Creates every missing directory along a backslash-separated path, from the shortest prefix
// on. Prefixes that already exist as directories (also drive roots and network shares) are
// fine; a failure logs "Cannot create dir %1%" and raises the Windows error.
void create_directory_tree(const std::string& path);
void remove_directory(const std::string& path);

// Removes a file, or a directory with everything below it. A directory link (junction or
// symbolic link) is removed itself; what it points to is left alone. A missing path raises
// internal error 653; when entries below a directory cannot be removed, everything else is
// removed and internal error 713 is raised (the directories that still hold such entries stay).
void remove_tree(const std::string& path);

// Renames; when that fails (another volume) copies without overwriting and deletes the source.
// Raises the Windows errors of "CopyFileW" or "DeleteFileW".
void move_file(const std::string& from, const std::string& to);
// Copies, overwriting the target; a failure raises internal error 362.
void copy_file(const std::string& from, const std::string& to);

// Appends, for every entry that matches `pattern` (for example "dir\*"), the pattern's folder
// prefix plus the entry's name, in the order the system reports them; "." and ".." skipped.
void list_dir(vantor_stl::vector<std::string>& out, const std::string& pattern);

}  // namespace fs
}  // namespace vantor
