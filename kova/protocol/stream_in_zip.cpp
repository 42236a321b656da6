#include "kova/protocol/stream_in_zip.h"

#include <algorithm>

#include "vantor/core/exception.h"

namespace kova {
namespace {

// Compressed bytes are fed in pieces so that an overlong inflated block is caught after at
// most one piece's worth of output (deflate expands at most about 1:1032).
constexpr std::size_t feed_piece = 0x10000;

[[noreturn]] void block_too_large()
{
    throw vantor::exception("zlib_stream: block too large");
}

}  // namespace

stream_in_zip::stream_in_zip(stream_in& source, decompress_holder& decompressor) : source_(source)
{
    stream_decompress::create(decompressor);
    decompressor_ = decompressor;
    pending_ = source_.readCompactU32();
    if (pending_ > max_block) {
        block_too_large();
    }
}

std::size_t stream_in_zip::ensure(std::size_t size, std::size_t count)
{
    if (pending_ != 0) {
        source_.ensure(pending_);
        const std::uint8_t* bytes = source_.cursor();
        std::size_t left = pending_;
        netbuf inflated;
        while (left > 0) {
            std::size_t piece = std::min(left, feed_piece);
            decompressor_->write(bytes, piece);
            bytes += piece;
            left -= piece;
            decompressor_->take_output(inflated);
            if (inflated.size() > max_block) {
                block_too_large();
            }
        }
        source_.set_cursor(bytes);
        pending_ = 0;
        decompressor_->flush();
        decompressor_->take_output(inflated);
        if (inflated.size() > max_block) {
            block_too_large();
        }
        output_ = std::move(inflated);
        attach(&output_);
    }
    return stream_in_nb::ensure(size, count);
}

}  // namespace kova
