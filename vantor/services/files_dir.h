#pragma once
// Walks the entries that match a pattern ("dir\*", or one path) with FindFirstFileW and
// FindNextFileW, skipping "." and "..". Owned and used by one thread at a time.
#include <cstdint>
#include <optional>
#include <string>

#include "vantor/core/win_api.h"

namespace vantor {

// One directory entry as the system reports it; times are FILETIME values (100 ns units since
// 1601-01-01 UTC) and the name is UTF-8.
struct dir_entry {
    std::uint32_t attributes = 0;
    std::uint64_t creation_time = 0;
    std::uint64_t last_write_time = 0;
    std::uint64_t size = 0;
    std::string name;

    bool is_directory() const { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
};

class dir_iterator {
public:
    dir_iterator() = default;
    dir_iterator(const dir_iterator&) = delete;
    dir_iterator& operator=(const dir_iterator&) = delete;
    ~dir_iterator();

    // Starts a walk ("/" in the pattern is read as "\"); closes a walk in progress first. A
    // pattern that matches nothing, or names a missing folder, leaves the iterator finished.
    void open(const std::string& pattern);
    // The next entry, or none when the walk is finished (the find handle is then closed).
    std::optional<dir_entry> next();
    void close() noexcept;

    // The pattern's text up to and including its last backslash ("" when it has none).
    const std::string& prefix() const { return prefix_; }

private:
    std::string prefix_;
    HANDLE find_ = INVALID_HANDLE_VALUE;
    WIN32_FIND_DATAW data_{};
    bool first_pending_ = false;
};

}  // namespace vantor
