#pragma once
// The pieces of a log file record: escaping of one line, the UTC time stamp, the folding of
// repeated records into a counter line and the size cap that keeps a file's newest half. All of
// them are used by the log writer's thread only.
#include <cstdint>
#include <string>
#include <string_view>

#include "vantor/core/win_api.h"

namespace vantor {

// Replaces every byte below 0x20 and every backquote with a backquote and the byte's value as
// two lower-case hexadecimal digits; every other byte (0x80 and above too) is kept.
std::string escape_log_line(std::string_view line);

// "%d-%02d-%02dT%02d:%02d:%02dZ" of the UTC calendar time of `ms` (milliseconds since 1970,
// the milliseconds dropped), or "N" when the time cannot be converted (before 1970) or does not
// print as exactly 20 characters (year 10000 and later).
std::string format_log_time_stamp(std::int64_t ms);

// The stamp of the current time read through `clock`; "N" when the clock throws.
using log_clock = std::int64_t (*)();
std::string log_time_stamp(log_clock clock) noexcept;

// Folds identical consecutive records into one counter line. A record is a time stamp of
// `stamp_length` bytes followed by the rest of the line ("" + escaped line + CR LF). The first
// repeat of a record writes a counter line after it; every further repeat rewrites that counter
// line in place (the caller positions the file `seek_back` bytes before its end).
class log_repeat_folder {
public:
    struct output {
        std::string_view bytes;   // what to write; valid until the next fold or reset
        std::uint32_t seek_back;  // bytes before the end of the file to write them at
    };

    log_repeat_folder();

    output fold(std::string_view record, std::size_t stamp_length);

    // Forgets the previous record, so that the next one is never folded.
    void reset();

    // The buffers of the last record and of the counter line stay this large between records.
    static constexpr std::size_t kept_capacity = 64 * 1024;
    // A counter line after its stamp: " - " + count in ten columns + " - " + CR LF.
    static constexpr std::size_t counter_length = 18;

private:
    std::string previous_;  // the last record written in full
    std::size_t previous_stamp_ = 0;
    bool has_previous_ = false;
    std::uint32_t repeats_ = 0;
    std::string folded_;  // the counter line being written
};

// Writes `bytes` at `seek_back` bytes before the end of the open file `file` (at its start when
// the file is shorter) and returns the position after them. Throws the Windows error of the
// failing call.
std::int64_t write_log_bytes(HANDLE file, std::string_view bytes, std::uint32_t seek_back);

// The size cap, applied to the open log file `file` (at its end) of path `wide_path`: when the
// file is longer than `cap` bytes, its newest cap / 2 bytes are moved to the start and the file
// is cut after them. Returns the file's length afterwards. Throws the Windows error of the
// failing call; a second handle that cannot be opened leaves the file as it is.
std::int64_t cap_log_file(HANDLE file, const std::wstring& wide_path, std::uint32_t cap);

}  // namespace vantor
