#pragma once
// The writer that appends the desktop stream into a netbuf in large chunks: the base of the
// encoder and of the decoder's output.
//
// Room is reserved at the netbuf's end in chunks of a multiple of 128 KiB, so that a whole
// update is written with few allocations. Until flush the netbuf also holds the reserved but
// unwritten rest of the chunk; after flush it holds exactly the bytes written. The owner then
// takes the netbuf (take) and hands it on without copying. Used on its owner's executor.
#include <cstddef>
#include <cstdint>

#include "kova/protocol/stream_out.h"
#include "vantor/core/netbuf.h"

namespace kova {

class stream_out_nb : public stream_out_mem {
public:
    // Creates the sink empty through the netbuf table; raises what the netbuf layer raises.
    stream_out_nb();
    ~stream_out_nb() override = default;

    // Commits the bytes written in the current chunk and answers the room left when it is at
    // least n; otherwise gives the unwritten rest back and reserves a new chunk of
    // ((n + 0x20001) / 0x20000) * 0x20000 bytes, always more than n + 1, and answers its size.
    std::size_t ensure(std::size_t n) override;
    // Gives the unwritten rest of the chunk back and forgets the chunk; answers 0.
    std::size_t flush() override;

    // Flushes, then hands the sink over and puts a new empty netbuf in its place.
    netbuf take();
    // The sink; its size includes the reserved rest of the chunk until flush.
    const netbuf& sink() const noexcept { return sink_; }

private:
    netbuf sink_;
};

}  // namespace kova
