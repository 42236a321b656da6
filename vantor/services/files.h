#pragma once
// `vantor::file`: one open file over the runtime library's stream (FILE), with UTF-8 paths.
// Whether failures raise is chosen at opening: with raise errors set they throw
// vantor::exception "<errno> (<errno text>) function=<name> file=<path>", where name is
// "fopen", "fread", "fwrite", "fclose" or "invalid_mode"; without it they are silent (a failed
// open leaves the object closed, a failed write returns 0, a failed read returns false).
// Owned and used by one thread at a time.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

class netbuf;

namespace vantor {

class file {
public:
    // Open kinds.
    enum kind : int {
        open_read = 0,           // "rb"
        open_write = 1,          // "wb": created or truncated
        open_append = 2,         // "ab"
        open_read_write = 3,     // "r+b": the file must exist
        open_read_write_new = 4  // "r+b", creating the file first when it is missing
    };
    // Open flags.
    enum flag : unsigned {
        delete_on_close = 1,  // the file is deleted when closed ("D")
        deny_write = 2,       // other openers may not write while it is open
        announce_open = 4     // announce the open to the file-access hook as such
    };

    file() = default;
    file(const file&) = delete;
    file& operator=(const file&) = delete;
    // Closes an open stream without raising.
    ~file();

    // Opens `path` (a file already open here is closed first, silently). The handle is never
    // inherited by child processes. A kind outside 0 to 4 fails as "invalid_mode".
    void open(const std::string& path, int kind, bool raise_errors, unsigned flags = 0);
    // The same with an fopen-style mode text ("rb", "wb", "r+b" ...), to which "N" is added.
    void open_with_mode(const std::string& path, std::string_view mode, bool raise_errors,
                        unsigned flags = 0);
    // fclose; forgets the stream even when fclose reports a failure ("fclose").
    void close();

    bool is_open() const { return stream_ != nullptr; }
    std::FILE* handle() const { return stream_; }
    const std::string& path() const { return path_; }

    // Bytes written: all of them, or 0 after a failure ("fwrite"; also for a closed file).
    std::size_t write(const void* data, std::size_t length);
    std::size_t write_span(std::string_view bytes) { return write(bytes.data(), bytes.size()); }
    // Writes every chunk of the buffer in order; false when a write failed.
    bool write_netbuf(const netbuf& buffer);

    // Appends up to 64 KiB to the buffer / text; false at the end of the file, when closed, or
    // after a read error ("fread", which raises with raise errors so that a damaged read is
    // never taken for the end of the file).
    bool read_chunk(netbuf& out);
    bool read_chunk_str(std::string& out);
    // Appends up to n bytes to the buffer and returns how many came.
    std::size_t read(netbuf& out, std::size_t n);

    // 64-bit position and size; -1 when closed or on failure.
    std::int64_t tell() const;
    std::int64_t size() const;
    // Moves to `offset` from the start (SEEK_SET) or the end (SEEK_END); false on failure.
    bool seek(std::int64_t offset, int origin);
    // Cuts or extends the file to `size` bytes; the runtime's result (0 on success, else an
    // errno value).
    int truncate(std::int64_t size);

    // Replaces `out` with the whole content of the file; raises on any failure.
    static void read_all(netbuf& out, const std::string& path);
    // Writes the buffer as the file's whole content (created or truncated); raises on any
    // failure.
    static void write_all(const std::string& path, const netbuf& content);

private:
    // Raises the file error for `function` when raise errors is set.
    void fail(const char* function) const;
    bool read_failed();
    void announce(const std::string& path, bool read_only, unsigned flags);
    // Closes a stream that is open, then opens; false, silently, when the runtime refuses.
    bool open_stream(const std::string& path, std::string_view mode, bool raise_errors, unsigned flags);

    std::FILE* stream_ = nullptr;
    bool raise_errors_ = false;
    std::string mode_;
    std::string path_;
};

}  // namespace vantor
