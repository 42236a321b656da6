#pragma once
// zlib compression and decompression between byte buffers, in the zlib format (2-byte header,
// 32 KiB window, Adler-32 trailer). Output goes straight into spans at the end of the output
// netbuf; input is fed as it lies in caller memory or in the chunks of a netbuf.
//
// A whole buffer is compressed by zlib_deflate_init, zlib_deflate_netbuf (or _block) and
// zlib_deflate_all, and decompressed by zlib_inflate_init, zlib_inflate_netbuf (or _block) and
// zlib_inflate_require_end; zlib_compress and zlib_decompress do exactly that. Streams that span
// many messages flush each message with zlib_deflate_sync_flush instead of finishing.
//
// Failures raise vantor::exception: internal errors 28 and 110 (initialisation), 57 (deflate
// step), 95 (sync flush), 78 (finish) and 150 (inflate step: corrupt input). The output keeps
// what was produced before a failure. A stream is used by one thread at a time.
#include <cstddef>
#include <cstdint>

#include <zlib.h>

class netbuf;

namespace vantor {

// One compression or one decompression in progress. Not copyable or movable: zlib's state
// points back at the record. Destruction ends a stream that is still open.
struct zlib_stream {
    enum class mode : std::uint8_t { none, deflating, inflating };

    zlib_stream() = default;
    zlib_stream(const zlib_stream&) = delete;
    zlib_stream& operator=(const zlib_stream&) = delete;
    ~zlib_stream();

    z_stream record{};
    // Decompression only: the end of the compressed stream has been reached.
    bool finished = false;
    mode open = mode::none;
};

// Default level, window bits 15, memory level 8, default strategy. Ends a stream that is still
// open first.
void zlib_deflate_init(zlib_stream& stream);
// Window bits 15, zlib header expected.
void zlib_inflate_init(zlib_stream& stream);

// Compresses the bytes without flushing, appending what zlib produces to `output`.
void zlib_deflate_block(zlib_stream& stream, netbuf& output, const void* data, std::size_t length);
// Compresses every chunk of `input` (which is not changed).
void zlib_deflate_netbuf(zlib_stream& stream, netbuf& output, const netbuf& input);
// Completes the output of everything fed so far up to a byte boundary (Z_SYNC_FLUSH), so that
// the receiver can inflate all of it now; the stream goes on.
void zlib_deflate_sync_flush(zlib_stream& stream, netbuf& output);
// Finishes the compressed stream, trailer included.
void zlib_deflate_all(zlib_stream& stream, netbuf& output);

// Decompresses the bytes, appending to `output`. False, with nothing done, when the stream had
// already ended; bytes after the end of the compressed stream are ignored.
bool zlib_inflate_block(zlib_stream& stream, netbuf& output, const void* data, std::size_t length);
// Decompresses every chunk of `input`. False when the stream had already ended before the call.
bool zlib_inflate_netbuf(zlib_stream& stream, netbuf& output, const netbuf& input);
// For a whole compressed buffer: raises "compressed data is truncated" when the input fed so far
// did not reach the end of the compressed stream. Without this check a cut buffer would pass as
// complete, shorter data.
void zlib_inflate_require_end(const zlib_stream& stream);

// End the stream (deflateEnd, inflateEnd); a stream that is not open is left alone.
void zlib_deflate_end(zlib_stream& stream) noexcept;
void zlib_inflate_end(zlib_stream& stream) noexcept;

// One whole zlib stream made from `input`, appended to `output`.
void zlib_compress(netbuf& output, const netbuf& input);
// The bytes of the one zlib stream in `input`, appended to `output`; corrupt or truncated
// input raises. Bytes after the end of the stream are ignored.
void zlib_decompress(netbuf& output, const netbuf& input);

}  // namespace vantor
