#include "vantor/services/files.h"

#include <io.h>
#include <share.h>
#include <cerrno>

#include "vantor/core/exception.h"
#include "vantor/core/netbuf.h"
#include "vantor/core/text_convert.h"
#include "vantor/core/win_api.h"
#include "vantor/core/win_handle.h"
#include "vantor/services/files_access.h"

namespace vantor {
namespace {

constexpr std::size_t chunk_size = 65536;

const char* mode_of_kind(int kind)
{
    switch (kind) {
        case file::open_read:
            return "rb";
        case file::open_write:
            return "wb";
        case file::open_append:
            return "ab";
        case file::open_read_write:
        case file::open_read_write_new:
            return "r+b";
        default:
            return nullptr;
    }
}

// Creates an empty file when none exists; an existing file is left alone.
void create_if_missing(const std::wstring& path)
{
    win_file_handle created(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
}

}  // namespace

file::~file()
{
    if (stream_ != nullptr) {
        std::fclose(stream_);
    }
}

void file::fail(const char* function) const
{
    if (!raise_errors_) {
        return;
    }
    int error = errno;
    throw exception(std::to_string(error) + " (" + errno_text(error) + ") function=" + function +
                    " file=" + path_);
}

void file::open(const std::string& path, int kind, bool raise_errors, unsigned flags)
{
    const char* mode = mode_of_kind(kind);
    if (mode == nullptr) {
        path_ = path;
        raise_errors_ = raise_errors;
        errno = EINVAL;
        fail("invalid_mode");
        return;
    }
    announce(path, kind == open_read, flags);
    if (!open_stream(path, mode, raise_errors, flags) && kind == open_read_write_new) {
        create_if_missing(to_wide(encoding_utf8, path));
        open_stream(path, mode, raise_errors, flags);
    }
    if (stream_ == nullptr) {
        fail("fopen");
    }
}

void file::open_with_mode(const std::string& path, std::string_view mode, bool raise_errors, unsigned flags)
{
    announce(path, mode.find_first_of("wa+") == std::string_view::npos, flags);
    if (!open_stream(path, mode, raise_errors, flags)) {
        fail("fopen");
    }
}

void file::announce(const std::string& path, bool read_only, unsigned flags)
{
    if ((flags & announce_open) != 0) {
        notify_file_access(path, file_access::flagged_open);
    } else {
        notify_file_access(path, read_only ? file_access::read : file_access::write);
    }
}

bool file::open_stream(const std::string& path, std::string_view mode, bool raise_errors, unsigned flags)
{
    if (stream_ != nullptr) {
        std::fclose(stream_);
        stream_ = nullptr;
    }
    path_ = path;
    raise_errors_ = raise_errors;
    mode_ = std::string(mode) + "N";
    if ((flags & delete_on_close) != 0) {
        mode_ += 'D';
    }
    int share = (flags & deny_write) != 0 ? _SH_DENYWR : _SH_DENYNO;
    stream_ = _wfsopen(to_wide(encoding_utf8, path).c_str(), to_wide(encoding_utf8, mode_).c_str(), share);
    return stream_ != nullptr;
}

void file::close()
{
    if (stream_ == nullptr) {
        return;
    }
    int result = std::fclose(stream_);
    stream_ = nullptr;
    if (result != 0) {
        fail("fclose");
    }
}

std::size_t file::write(const void* data, std::size_t length)
{
    if (stream_ == nullptr) {
        errno = EBADF;
        fail("fwrite");
        return 0;
    }
    if (length == 0) {
        return 0;
    }
    if (std::fwrite(data, 1, length, stream_) != length) {
        fail("fwrite");
        return 0;
    }
    return length;
}

bool file::write_netbuf(const netbuf& buffer)
{
    for (netbuf::cursor c(buffer); c.valid(); c.next()) {
        const std::uint8_t* data = nullptr;
        std::size_t length = 0;
        c.data(&data, &length);
        if (length > 0 && write(data, length) == 0) {
            return false;
        }
    }
    return true;
}

bool file::read_failed()
{
    // A short read that did not reach the end of the file is an error, whether or not the
    // runtime marks the stream (Wine's does not for a stream opened without read access).
    if (stream_ != nullptr && (std::ferror(stream_) || !std::feof(stream_))) {
        fail("fread");
        return true;
    }
    return false;
}

std::size_t file::read(netbuf& out, std::size_t n)
{
    if (stream_ == nullptr || n == 0) {
        return 0;
    }
    std::uint8_t* space = out.append_space(n);
    std::size_t got = std::fread(space, 1, n, stream_);
    out.trim_back(n - got);
    if (got < n) {
        read_failed();
    }
    return got;
}

bool file::read_chunk(netbuf& out)
{
    return read(out, chunk_size) > 0;
}

bool file::read_chunk_str(std::string& out)
{
    if (stream_ == nullptr) {
        return false;
    }
    std::string buffer(chunk_size, '\0');
    std::size_t got = std::fread(buffer.data(), 1, chunk_size, stream_);
    out.append(buffer.data(), got);
    if (got < chunk_size) {
        read_failed();
    }
    return got > 0;
}

std::int64_t file::tell() const
{
    return stream_ == nullptr ? -1 : _ftelli64(stream_);
}

std::int64_t file::size() const
{
    if (stream_ == nullptr || std::fflush(stream_) != 0) {
        return -1;
    }
    return _filelengthi64(_fileno(stream_));
}

bool file::seek(std::int64_t offset, int origin)
{
    return stream_ != nullptr && _fseeki64(stream_, offset, origin) == 0;
}

int file::truncate(std::int64_t size)
{
    if (stream_ == nullptr) {
        return EBADF;
    }
    // The descriptor writes below the stream's buffer: pending output goes out first.
    std::fflush(stream_);
    return _chsize_s(_fileno(stream_), size);
}

void file::read_all(netbuf& out, const std::string& path)
{
    out.clear();
    file in;
    in.open(path, open_read, true);
    while (in.read_chunk(out)) {
    }
    in.close();
}

void file::write_all(const std::string& path, const netbuf& content)
{
    file out;
    out.open(path, open_write, true);
    out.write_netbuf(content);
    out.close();
}

}  // namespace vantor
