#pragma once
// A file mapped into memory whole, for reading a file at once or writing one of a known size,
// and the INI file loader built on it. Any thread; one record is used by one thread at a time.
#include <cstdint>
#include <memory>
#include <string>

#include "vantor/core/ini.h"
#include "vantor/core/win_handle.h"

namespace vantor {

class mapped_file {
public:
    // Flags, numbered like the runtime library's open flags: the low two bits give the access
    // (0 read, 1 write, 2 read and write, 3 none), 0x100 creates a missing file, 0x200
    // truncates an existing one.
    static constexpr std::uint16_t read_only = 0x0;
    static constexpr std::uint16_t write_only = 0x1;
    static constexpr std::uint16_t read_write = 0x2;
    static constexpr std::uint16_t create = 0x100;
    static constexpr std::uint16_t truncate = 0x200;

    // Opens and maps the file at the UTF-8 path. With write access the view is `size` bytes
    // (4 MiB for -1) and the file grows to that size; otherwise the view is the whole file. An
    // empty file read gives a record without mapping and view. Announces the access to the
    // host's file-access hook first. Raises the Windows error of "CreateFileW",
    // "CreateFileMappingW" or "MapViewOfFile" (every handle opened so far is closed), or
    // internal error 89 when the record cannot be allocated.
    static std::unique_ptr<mapped_file> open(const std::string& path, std::uint16_t flags,
                                             std::int32_t size);

    mapped_file(const mapped_file&) = delete;
    mapped_file& operator=(const mapped_file&) = delete;
    // Unmaps the view and closes the mapping and the file.
    ~mapped_file();

    // The view (null for an empty file).
    void* data() const noexcept { return view_; }
    // For a read mapping the file's size (the low 32 bits); 0 for a write mapping.
    std::uint32_t size() const noexcept { return size_; }
    bool has_mapping() const noexcept { return mapping_.valid(); }

private:
    mapped_file(win_file_handle file, win_handle mapping, std::uint32_t size, void* view) noexcept;

    win_file_handle file_;
    win_handle mapping_;
    std::uint32_t size_;
    void* view_;
};

// Reads the INI file at the UTF-8 path (a leading UTF-8 byte-order mark is skipped) and parses
// it into `result`. Passes on the errors of mapped_file::open.
void load_ini_file(const std::string& path, ini_sections& result);

}  // namespace vantor
