#pragma once
// The short-lived compressing writer of one ZRLE rectangle: it feeds the rectangle's tile bytes
// to the encoder's one deflate stream and collects the compressed bytes, which end at a
// sync-flush point, so the viewer can inflate the rectangle as soon as it arrives. Used on the
// encoder's executor; raises what the compressor raises (stream_compress.h).
#include "kova/protocol/stream_compress.h"
#include "vantor/core/netbuf.h"

namespace kova {

class zip_writer {
public:
    // Shares the encoder's compressor; an empty holder is filled with a new compressor first, so
    // that the encoder's holder refers to it too.
    explicit zip_writer(compress_holder& compressor);

    // Takes the caller's netbuf (the caller's holder gets a new empty one), compresses its
    // chunks in order without flushing and collects the output.
    void compress(netbuf& data);
    // Sync-flushes the stream and collects the output.
    void flush();

    // The compressed bytes collected so far.
    netbuf& output() noexcept { return output_; }

private:
    compress_holder compressor_;
    netbuf output_;
};

}  // namespace kova
