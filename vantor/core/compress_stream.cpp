#include "vantor/core/compress_stream.h"

#include <algorithm>
#include <cstring>

#include "vantor/core/exception.h"
#include "vantor/core/netbuf.h"

namespace vantor {
namespace {

// The zlib version this code is written for; zlib's initialisation checks it against itself.
constexpr char zlib_version_text[] = "1.3.1";

// zlib counts input in uInt; larger blocks are fed in pieces of this size.
constexpr std::size_t max_piece = std::size_t{1} << 30;

constexpr std::uint32_t max_span = 65535;

// Points the record's output at a writable span at the end of `output`, sized for the input
// still pending (about 5% more than the input, at most 64 KiB).
void zlib_output_span(z_stream& record, netbuf& output)
{
    std::uint32_t hint = max_span;
    if (record.avail_in > 0) {
        std::uint64_t estimate = std::uint64_t{record.avail_in} * 105 / 100 + 12;
        hint = static_cast<std::uint32_t>(std::min<std::uint64_t>(estimate, max_span));
    }
    std::uint8_t* data = nullptr;
    std::size_t length = 0;
    output.reserve_tail_span(hint, &data, &length);
    record.next_out = data;
    record.avail_out = static_cast<uInt>(std::min<std::size_t>(length, max_piece));
    if (length > record.avail_out) {
        output.trim_back(length - record.avail_out);
    }
}

// Gives the part of the span that zlib did not fill back, so that the output holds exactly the
// bytes written.
void zlib_output_return(z_stream& record, netbuf& output)
{
    if (record.avail_out > 0) {
        output.trim_back(record.avail_out);
    }
    record.next_out = nullptr;
    record.avail_out = 0;
}

// Drops the record's pointers into caller memory once a call is over.
void forget_input(z_stream& record)
{
    record.next_in = nullptr;
    record.avail_in = 0;
}

void deflate_piece(zlib_stream& stream, netbuf& output, const std::uint8_t* data, std::size_t length)
{
    z_stream& record = stream.record;
    record.next_in = const_cast<Bytef*>(data);
    record.avail_in = static_cast<uInt>(length);
    for (;;) {
        zlib_output_span(record, output);
        int result = deflate(&record, Z_NO_FLUSH);
        bool full = record.avail_out == 0;
        zlib_output_return(record, output);
        if (result != Z_OK) {
            forget_input(record);
            throw internal_error(57);
        }
        if (!full) {
            break;
        }
    }
    forget_input(record);
}

// Feeds one piece; false when the stream ended (the rest of the piece is ignored).
bool inflate_piece(zlib_stream& stream, netbuf& output, const std::uint8_t* data, std::size_t length)
{
    z_stream& record = stream.record;
    record.next_in = const_cast<Bytef*>(data);
    record.avail_in = static_cast<uInt>(length);
    for (;;) {
        zlib_output_span(record, output);
        int result = inflate(&record, Z_NO_FLUSH);
        bool full = record.avail_out == 0;
        zlib_output_return(record, output);
        if (result == Z_STREAM_END) {
            stream.finished = true;
            forget_input(record);
            return false;
        }
        if (result != Z_OK && result != Z_BUF_ERROR) {
            forget_input(record);
            throw internal_error(150);
        }
        if (!full) {
            break;
        }
    }
    forget_input(record);
    return true;
}

}  // namespace

zlib_stream::~zlib_stream()
{
    zlib_deflate_end(*this);
    zlib_inflate_end(*this);
}

void zlib_deflate_init(zlib_stream& stream)
{
    zlib_deflate_end(stream);
    zlib_inflate_end(stream);
    std::memset(&stream.record, 0, sizeof stream.record);
    if (deflateInit2_(&stream.record, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY,
                      zlib_version_text, static_cast<int>(sizeof(z_stream))) != Z_OK) {
        throw internal_error(28);
    }
    stream.open = zlib_stream::mode::deflating;
}

void zlib_inflate_init(zlib_stream& stream)
{
    zlib_deflate_end(stream);
    zlib_inflate_end(stream);
    stream.finished = false;
    std::memset(&stream.record, 0, sizeof stream.record);
    if (inflateInit2_(&stream.record, 15, zlib_version_text, static_cast<int>(sizeof(z_stream))) != Z_OK) {
        throw internal_error(110);
    }
    stream.open = zlib_stream::mode::inflating;
}

void zlib_deflate_block(zlib_stream& stream, netbuf& output, const void* data, std::size_t length)
{
    // Without input there is nothing to compress, and zlib would answer a repeated empty call
    // with "no progress" (Z_BUF_ERROR).
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    while (length > 0) {
        std::size_t piece = std::min(length, max_piece);
        deflate_piece(stream, output, bytes, piece);
        bytes += piece;
        length -= piece;
    }
}

void zlib_deflate_netbuf(zlib_stream& stream, netbuf& output, const netbuf& input)
{
    for (netbuf::cursor c(input); c.valid(); c.next()) {
        const std::uint8_t* data = nullptr;
        std::size_t length = 0;
        c.data(&data, &length);
        zlib_deflate_block(stream, output, data, length);
    }
}

void zlib_deflate_sync_flush(zlib_stream& stream, netbuf& output)
{
    z_stream& record = stream.record;
    forget_input(record);
    for (;;) {
        zlib_output_span(record, output);
        int result = deflate(&record, Z_SYNC_FLUSH);
        bool full = record.avail_out == 0;
        zlib_output_return(record, output);
        // A flush right after another has nothing to write; zlib reports that as no progress.
        if (result == Z_BUF_ERROR && !full) {
            break;
        }
        if (result != Z_OK) {
            throw internal_error(95);
        }
        if (!full) {
            break;
        }
    }
}

void zlib_deflate_all(zlib_stream& stream, netbuf& output)
{
    z_stream& record = stream.record;
    forget_input(record);
    for (;;) {
        zlib_output_span(record, output);
        int result = deflate(&record, Z_FINISH);
        bool full = record.avail_out == 0;
        zlib_output_return(record, output);
        if (result != Z_OK && result != Z_STREAM_END) {
            throw internal_error(78);
        }
        if (result == Z_STREAM_END || !full) {
            break;
        }
    }
}

bool zlib_inflate_block(zlib_stream& stream, netbuf& output, const void* data, std::size_t length)
{
    if (stream.finished) {
        return false;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    do {
        std::size_t piece = std::min(length, max_piece);
        if (!inflate_piece(stream, output, bytes, piece)) {
            break;
        }
        bytes += piece;
        length -= piece;
    } while (length > 0);
    return true;
}

bool zlib_inflate_netbuf(zlib_stream& stream, netbuf& output, const netbuf& input)
{
    if (stream.finished) {
        return false;
    }
    for (netbuf::cursor c(input); c.valid() && !stream.finished; c.next()) {
        const std::uint8_t* data = nullptr;
        std::size_t length = 0;
        c.data(&data, &length);
        zlib_inflate_block(stream, output, data, length);
    }
    return true;
}

void zlib_inflate_require_end(const zlib_stream& stream)
{
    if (!stream.finished) {
        throw exception("compressed data is truncated");
    }
}

void zlib_deflate_end(zlib_stream& stream) noexcept
{
    if (stream.open == zlib_stream::mode::deflating) {
        deflateEnd(&stream.record);
        stream.open = zlib_stream::mode::none;
    }
}

void zlib_inflate_end(zlib_stream& stream) noexcept
{
    if (stream.open == zlib_stream::mode::inflating) {
        inflateEnd(&stream.record);
        stream.open = zlib_stream::mode::none;
    }
}

void zlib_compress(netbuf& output, const netbuf& input)
{
    zlib_stream stream;
    zlib_deflate_init(stream);
    zlib_deflate_netbuf(stream, output, input);
    zlib_deflate_all(stream, output);
    zlib_deflate_end(stream);
}

void zlib_decompress(netbuf& output, const netbuf& input)
{
    zlib_stream stream;
    zlib_inflate_init(stream);
    zlib_inflate_netbuf(stream, output, input);
    zlib_inflate_require_end(stream);
    zlib_inflate_end(stream);
}

}  // namespace vantor
