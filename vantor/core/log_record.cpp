#include "vantor/core/log_record.h"

#include <cstdio>

#include "vantor/core/exception.h"
#include "vantor/core/win_handle.h"

namespace vantor {
namespace {

constexpr char hex_digits[] = "0123456789abcdef";

bool needs_escape(unsigned char c)
{
    return c < 0x20 || c == '`';
}

struct civil_time {
    std::int64_t year;
    int month, day, hour, minute, second;
};

// Days since 1970-01-01 to a proleptic Gregorian date, counting in 400-year eras that start on
// 1 March, so that the leap day is the last day of an era's year.
civil_time civil_from_seconds(std::int64_t seconds)
{
    std::int64_t days = seconds / 86400;
    std::int64_t rest = seconds % 86400;
    civil_time t{};
    t.hour = static_cast<int>(rest / 3600);
    t.minute = static_cast<int>(rest % 3600 / 60);
    t.second = static_cast<int>(rest % 60);

    days += 719468;  // from 1970-01-01 to 0000-03-01
    std::int64_t era = days / 146097;
    std::int64_t day_of_era = days - era * 146097;
    std::int64_t year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    std::int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    std::int64_t month_from_march = (5 * day_of_year + 2) / 153;
    t.day = static_cast<int>(day_of_year - (153 * month_from_march + 2) / 5 + 1);
    t.month = static_cast<int>(month_from_march < 10 ? month_from_march + 3 : month_from_march - 9);
    t.year = year_of_era + era * 400 + (t.month <= 2 ? 1 : 0);
    return t;
}

void write_all(HANDLE file, const char* data, std::size_t size)
{
    while (size > 0) {
        DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(file, data, chunk, &written, nullptr)) {
            throw exception::make_win32_error("WriteFile");
        }
        data += written;
        size -= written;
    }
}

void seek(HANDLE file, std::int64_t position, DWORD method)
{
    LARGE_INTEGER distance;
    distance.QuadPart = position;
    if (!SetFilePointerEx(file, distance, nullptr, method)) {
        throw exception::make_win32_error("SetFilePointerEx");
    }
}

std::int64_t position_of(HANDLE file)
{
    LARGE_INTEGER zero{};
    LARGE_INTEGER position{};
    if (!SetFilePointerEx(file, zero, &position, FILE_CURRENT)) {
        throw exception::make_win32_error("SetFilePointerEx");
    }
    return position.QuadPart;
}

}  // namespace

std::string escape_log_line(std::string_view line)
{
    std::size_t extra = 0;
    for (char c : line) {
        if (needs_escape(static_cast<unsigned char>(c))) {
            extra += 2;
        }
    }
    if (extra == 0) {
        return std::string(line);
    }
    std::string out;
    out.reserve(line.size() + extra);
    for (char c : line) {
        auto byte = static_cast<unsigned char>(c);
        if (needs_escape(byte)) {
            out += '`';
            out += hex_digits[byte >> 4];
            out += hex_digits[byte & 0x0f];
        } else {
            out += c;
        }
    }
    return out;
}

std::string format_log_time_stamp(std::int64_t ms)
{
    if (ms < 0) {
        return "N";
    }
    civil_time t = civil_from_seconds(ms / 1000);
    char text[64];
    int n = std::snprintf(text, sizeof text, "%lld-%02d-%02dT%02d:%02d:%02dZ", static_cast<long long>(t.year),
                          t.month, t.day, t.hour, t.minute, t.second);
    if (n != 20) {
        return "N";
    }
    return std::string(text, 20);
}

std::string log_time_stamp(log_clock clock) noexcept
{
    try {
        return format_log_time_stamp(clock());
    } catch (...) {
        return "N";
    }
}

log_repeat_folder::log_repeat_folder()
{
    previous_.reserve(kept_capacity);
    folded_.reserve(kept_capacity);
}

log_repeat_folder::output log_repeat_folder::fold(std::string_view record, std::size_t stamp_length)
{
    const std::size_t n = record.size();
    if (has_previous_ && n == previous_.size() && stamp_length == previous_stamp_ &&
        n >= stamp_length + counter_length &&
        record.substr(stamp_length) == std::string_view(previous_).substr(stamp_length)) {
        ++repeats_;
        char counter[32];
        std::snprintf(counter, sizeof counter, " - %10u - \r\n", static_cast<unsigned>(repeats_));
        folded_.assign(record.substr(0, stamp_length));
        folded_ += counter;
        std::uint32_t back = repeats_ >= 2 ? static_cast<std::uint32_t>(stamp_length + counter_length) : 0;
        return {folded_, back};
    }
    if (previous_.capacity() > kept_capacity && n <= kept_capacity) {
        previous_ = std::string();
        previous_.reserve(kept_capacity);
    }
    previous_.assign(record);
    previous_stamp_ = stamp_length;
    has_previous_ = true;
    repeats_ = 0;
    return {previous_, 0};
}

void log_repeat_folder::reset()
{
    // Freeing both buffers as well would only make the next records allocate them again.
    previous_.clear();
    folded_.clear();
    has_previous_ = false;
    repeats_ = 0;
}

std::int64_t write_log_bytes(HANDLE file, std::string_view bytes, std::uint32_t seek_back)
{
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size)) {
        throw exception::make_win32_error("GetFileSizeEx");
    }
    std::int64_t at = size.QuadPart - static_cast<std::int64_t>(seek_back);
    seek(file, at < 0 ? 0 : at, FILE_BEGIN);
    write_all(file, bytes.data(), bytes.size());
    return position_of(file);
}

std::int64_t cap_log_file(HANDLE file, const std::wstring& wide_path, std::uint32_t cap)
{
    const std::int64_t size = position_of(file);
    const std::int64_t half = cap / 2;
    if (size <= static_cast<std::int64_t>(cap)) {
        return size;
    }
    win_file_handle reader(CreateFileW(wide_path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!reader) {
        return size;
    }
    seek(file, 0, FILE_BEGIN);
    seek(reader.get(), size - half, FILE_BEGIN);
    std::string buffer(64 * 1024, '\0');
    std::int64_t copied = 0;
    while (copied < half) {
        std::int64_t want = half - copied;
        DWORD chunk = want < static_cast<std::int64_t>(buffer.size()) ? static_cast<DWORD>(want)
                                                                       : static_cast<DWORD>(buffer.size());
        DWORD got = 0;
        // A failed read ends the copy like the end of the file: the file is still cut after
        // what was copied, so it never keeps old bytes behind the moved ones.
        if (!ReadFile(reader.get(), buffer.data(), chunk, &got, nullptr) || got == 0) {
            break;
        }
        write_all(file, buffer.data(), got);
        copied += got;
    }
    if (!SetEndOfFile(file)) {
        throw exception::make_win32_error("SetEndOfFile");
    }
    return copied;
}

}  // namespace vantor
