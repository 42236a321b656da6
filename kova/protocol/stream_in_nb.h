#pragma once
// The reader over received bytes held in a netbuf.
//
// Life within one receive call: construct over the pending-input netbuf, read messages, call
// release_consumed after each complete message (so that an unfinished one stays in the netbuf
// for the next delivery), destroy the reader. The netbuf is borrowed: the caller owns it, keeps
// it alive while the reader is used and does not change it except through the reader.
#include <cstddef>

#include "kova/protocol/stream_in.h"

class netbuf;

namespace kova {

class stream_in_nb : public stream_in_mem {
public:
    stream_in_nb() = default;
    explicit stream_in_nb(netbuf* source) { attach(source); }

    // Makes the netbuf's content, made contiguous, the current block with the cursor at its
    // start; an empty or absent netbuf gives an empty block.
    void attach(netbuf* source);

    // Drops the bytes read since the last release from the front of the netbuf and makes the
    // cursor the new release point; answers whether unread bytes remain (false without a
    // block).
    bool release_consumed() override;

    // A new netbuf with a copy of the bytes read since the last release (empty when none).
    netbuf consumed_copy() const;

    netbuf* source() const noexcept { return source_; }

private:
    netbuf* source_ = nullptr;
};

}  // namespace kova
