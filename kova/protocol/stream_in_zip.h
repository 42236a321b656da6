#pragma once
// The reader of one ZRLE rectangle's data on the viewing side: a compact length, then that many
// bytes of the connection's inflate stream. The decoder builds one per rectangle over its
// received-data reader and reads the tiles from it. Used in the decoder's tasks.
//
// The block is inflated on the first ensure, only once all its bytes have arrived: until then
// ensure throws kova::incomplete and neither the source nor the inflate stream changes, so a
// retry with more data sees the same state. Blocks longer than max_block, or inflating to more
// than max_block bytes, are refused with "zlib_stream: block too large" before they are
// buffered or inflated further; corrupt data raises internal error 267.
#include <cstddef>
#include <cstdint>

#include "kova/protocol/stream_compress.h"
#include "kova/protocol/stream_in_nb.h"
#include "vantor/core/netbuf.h"

namespace kova {

class stream_in_zip : public stream_in_nb {
public:
    // The largest compressed or inflated block: the encoder cuts its rectangles after the tile
    // row at which a 4 MiB budget (counted as half the tile bytes) runs out, so real blocks stay
    // far below this.
    static constexpr std::uint32_t max_block = 0x2000000;

    // Shares the decoder's decompressor (an empty holder is filled first) and reads the block's
    // length from the source, which must outlive this reader.
    stream_in_zip(stream_in& source, decompress_holder& decompressor);

    // Inflates the pending block when its bytes have all arrived, then answers like
    // stream_in_mem.
    std::size_t ensure(std::size_t size, std::size_t count = 1) override;

private:
    decompress_holder decompressor_;
    netbuf output_;
    stream_in& source_;
    std::uint32_t pending_ = 0;
};

}  // namespace kova
