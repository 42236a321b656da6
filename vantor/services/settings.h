#pragma once
// A small process-wide store of named text values, kept in the Windows registry below
// "Software\Tarvo Online\" or in an INI file "storage.ini":
//  - per-user values in sections (read, write), under HKEY_CURRENT_USER or in the INI file;
//  - machine-wide values under HKEY_LOCAL_MACHINE (read_machine, list_subkeys);
//  - whole-key loading and single-value writing for the feature-flag overrides (load_values,
//    store_value).
// Texts are UTF-8; they are converted to UTF-16 at the Windows calls. A process-wide overrides
// table is consulted before the store, and writes drop the entry they change.
//
// Threads: any. The settings lock guards the process-wide state only and is never held during
// registry or file access. Registry and file failures are silent (a missing and an empty value
// read the same), except for store_value, which reports its result.
#include <cstdint>
#include <string>

#include "vantor/core/map.h"
#include "vantor/core/vector.h"

namespace vantor {
namespace settings {

using value_map = vantor_stl::map<std::string, std::string>;

// Hive selectors of load_values and store_value.
enum : std::int32_t {
    machine_hive = 0,  // HKEY_LOCAL_MACHINE
    user_hive = 1,     // HKEY_CURRENT_USER
};

// Selects the back end from a text of ';'-separated entries with ':'-separated
// fields: "registry" (optionally followed by a subkey of "Software\Tarvo Online\") or "disk"
// (optionally followed by a folder; relative folders lie in the per-user cache folder). A
// "registry" entry always wins; a "disk" entry switches to the INI file only while no registry
// root has been set. Then fills the first-use defaults. Raises only when the current directory
// cannot be read.
void configure(const std::string& choice);

// The value of `key` in `section`; empty when missing.
std::string read(const std::string& section, const std::string& key);
// Stores the value; an empty value deletes it in registry mode and is stored empty in the INI
// file.
void write(const std::string& section, const std::string& key, const std::string& value);

// The value c of HKEY_LOCAL_MACHINE "Software\Tarvo Online\a\b" for the path "a\b\c" ('/'
// counts as '\'); empty when missing.
std::string read_machine(const std::string& path);
// Appends the names of the subkeys of HKEY_LOCAL_MACHINE "Software\Tarvo Online\" + path.
void list_subkeys(const std::string& path, vantor_stl::vector<std::string>& out);
// Deletes HKEY_CURRENT_USER "Software\Tarvo Online\" + path with its whole subtree. A path
// whose last component is empty deletes nothing.
void delete_key(const std::string& path);

// Fills `out` with every value of "Software\Tarvo Online\" + path in the selected hive.
void load_values(std::int32_t selector, const std::string& path, value_map& out);
// Writes (or, for an empty text, deletes) the value named by the last component of
// "Software\Tarvo Online\" + path in the selected hive, creating the key when needed. Returns
// ERROR_SUCCESS, or the Windows error code of the step that failed; deleting a value that does
// not exist succeeds.
[[nodiscard]] std::uint32_t store_value(std::int32_t selector, const std::string& path,
                                        const std::string& value) noexcept;

// Inner steps, for the feature flags and the system information.

// Turns every '/' into '\'; with `name`, moves the text after the last '\' into it and cuts
// the path before that '\' (a path without '\' stays whole and the name untouched).
void split_value_name(std::string& path, std::string* name);
// The per-user cache folder "...\Tarvo Online Cache" (created), or empty text.
std::string cache_folder();
// An absolute folder for the folder of a "disk" entry (created when missing).
std::string resolve_folder(const std::string& folder);
// Decodes registry data: REG_SZ without one trailing NUL, REG_BINARY as it is, other types as
// empty text.
std::string decode_value(const void* data, std::size_t size, std::uint32_t type);
// "User_" or "System_", the tag, "_", the path, "\" unless the path ends in one, and "#" with
// the name when the name is not empty.
std::string override_key(bool user, const std::string& path, const std::string& name,
                         const std::string& tag);

// Puts an entry into the overrides table; returns to the initial state (registry mode, no
// root, no folder, no overrides).
void set_override_for_testing(const std::string& key, const std::string& value);
void reset_for_testing();
// The current mode (1 registry, 0 disk), registry root and INI folder.
std::int32_t mode_for_testing();
std::string root_for_testing();
std::string folder_for_testing();

}  // namespace settings
}  // namespace vantor
