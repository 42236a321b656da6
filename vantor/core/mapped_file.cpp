#include "vantor/core/mapped_file.h"

#include <limits>
#include <new>

#include "vantor/core/exception.h"
#include "vantor/core/host_hooks.h"
#include "vantor/core/string_utils.h"
#include "vantor/core/text_convert.h"

namespace vantor {
namespace {

// Tells the host's file-access hook about the open: operation 1 for write access, else 0.
void announce(const std::string& path, bool write)
{
    const file_access_hook_record* hook = host().file_access_hook;
    if (hook == nullptr || hook->notify == nullptr ||
        path.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
        return;
    }
    hook->notify(path.data(), static_cast<std::int32_t>(path.size()), write ? 1 : 0);
}

DWORD disposition_of(std::uint16_t flags) noexcept
{
    bool create = (flags & mapped_file::create) != 0;
    bool truncate = (flags & mapped_file::truncate) != 0;
    if (create) {
        return truncate ? CREATE_ALWAYS : OPEN_ALWAYS;
    }
    return truncate ? TRUNCATE_EXISTING : OPEN_EXISTING;
}

}  // namespace

mapped_file::mapped_file(win_file_handle file, win_handle mapping, std::uint32_t size, void* view) noexcept
    : file_(std::move(file)), mapping_(std::move(mapping)), size_(size), view_(view)
{
}

mapped_file::~mapped_file()
{
    if (view_ != nullptr) {
        UnmapViewOfFile(view_);
    }
}

std::unique_ptr<mapped_file> mapped_file::open(const std::string& path, std::uint16_t flags,
                                               std::int32_t size)
{
    unsigned access_kind = flags & 3u;
    DWORD access = 0;
    switch (access_kind) {
    case 0:
        access = GENERIC_READ;
        break;
    case 1:
    case 2:
        access = GENERIC_READ | GENERIC_WRITE;
        break;
    default:
        break;
    }
    bool write = access_kind == 1 || access_kind == 2;
    bool reads = access_kind == 0 || access_kind == 2;
    announce(path, write);

    win_file_handle file(CreateFileW(to_wide(encoding_utf8, path).c_str(), access,
                                     reads ? FILE_SHARE_READ : 0, nullptr, disposition_of(flags),
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        throw exception::make_win32_error("CreateFileW");
    }

    DWORD view_size = 0;
    DWORD protection = PAGE_READONLY;
    DWORD view_access = FILE_MAP_READ;
    std::uint32_t record_size = 0;
    if (write) {
        view_size = size == -1 ? 0x400000u : static_cast<DWORD>(size);
        protection = PAGE_READWRITE;
        view_access = FILE_MAP_WRITE;
    } else {
        view_size = GetFileSize(file.get(), nullptr);
        record_size = view_size;
    }

    win_handle mapping(CreateFileMappingW(file.get(), nullptr, protection, 0, view_size, nullptr));
    void* view = nullptr;
    if (!mapping) {
        // The system refuses to map zero bytes; an empty file simply has nothing to map.
        if (view_size != 0) {
            throw exception::make_win32_error("CreateFileMappingW");
        }
    } else {
        view = MapViewOfFile(mapping.get(), view_access, 0, 0, view_size);
        if (view == nullptr) {
            throw exception::make_win32_error("MapViewOfFile");
        }
    }

    try {
        return std::unique_ptr<mapped_file>(
            new mapped_file(std::move(file), std::move(mapping), record_size, view));
    } catch (const std::bad_alloc&) {
        if (view != nullptr) {
            UnmapViewOfFile(view);
        }
        throw internal_error(89);
    }
}

void load_ini_file(const std::string& path, ini_sections& result)
{
    std::string text;
    {
        std::unique_ptr<mapped_file> file = mapped_file::open(path, mapped_file::read_only, -1);
        if (file->data() != nullptr) {
            text.assign(static_cast<const char*>(file->data()), file->size());
        }
    }
    result = parse_ini_lines(split_lines(text));
}

}  // namespace vantor
