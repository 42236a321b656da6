#include "vantor/services/files_dir.h"

#include "vantor/core/text_convert.h"
#include "vantor/services/files_access.h"
#include "vantor/services/paths.h"

namespace vantor {
namespace {

std::uint64_t join(DWORD high, DWORD low)
{
    return static_cast<std::uint64_t>(high) << 32 | low;
}

bool is_dot_entry(const wchar_t* name)
{
    return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

}  // namespace

dir_iterator::~dir_iterator()
{
    close();
}

void dir_iterator::open(const std::string& pattern)
{
    close();
    std::string native = fs::backslashes(pattern);
    notify_file_access(native, file_access::inspect);
    find_ = FindFirstFileW(to_wide(encoding_utf8, native).c_str(), &data_);
    if (find_ == INVALID_HANDLE_VALUE) {
        prefix_.clear();
        return;
    }
    std::size_t last = native.rfind('\\');
    prefix_ = last == std::string::npos ? std::string() : native.substr(0, last + 1);
    first_pending_ = true;
}

std::optional<dir_entry> dir_iterator::next()
{
    while (find_ != INVALID_HANDLE_VALUE) {
        if (first_pending_) {
            first_pending_ = false;
        } else if (!FindNextFileW(find_, &data_)) {
            close();
            break;
        }
        if (is_dot_entry(data_.cFileName)) {
            continue;
        }
        dir_entry entry;
        entry.attributes = data_.dwFileAttributes;
        entry.creation_time = join(data_.ftCreationTime.dwHighDateTime, data_.ftCreationTime.dwLowDateTime);
        entry.last_write_time =
            join(data_.ftLastWriteTime.dwHighDateTime, data_.ftLastWriteTime.dwLowDateTime);
        entry.size = join(data_.nFileSizeHigh, data_.nFileSizeLow);
        entry.name = from_wide(encoding_utf8, data_.cFileName);
        return entry;
    }
    return std::nullopt;
}

void dir_iterator::close() noexcept
{
    if (find_ != INVALID_HANDLE_VALUE) {
        FindClose(find_);
        find_ = INVALID_HANDLE_VALUE;
    }
    first_pending_ = false;
}

}  // namespace vantor
