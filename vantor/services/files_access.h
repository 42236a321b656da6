#pragma once
// Announcement of file-system accesses to the host's file-access hook. Without a host, or
// without the hook, nothing is announced.
#include <cstdint>
#include <optional>
#include <string_view>

namespace vantor {

// The operation codes that the file helpers announce.
enum class file_access : std::int32_t {
    read = 0,          // opening for reading; the source of a copy
    write = 1,         // opening for writing; creating, deleting, moving; the target of a copy
    inspect = 2,       // attributes, full paths, directory walks and recursive removal
    flagged_open = 4,  // an open that the caller asked to be announced as such
};

// Tells the host's hook that `path` is about to be accessed and returns the hook's answer;
// none without a hook. The file helpers do not use the answer.
std::optional<std::int32_t> notify_file_access(std::string_view path, file_access operation);

}  // namespace vantor
