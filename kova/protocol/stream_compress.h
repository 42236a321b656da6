#pragma once
// The zlib streams that carry ZRLE data: one deflate stream per encoder and one inflate stream
// per decoder, each continuous for the whole connection and flushed (sync flush) after every
// rectangle, so that each rectangle can be decoded as soon as it arrives while later ones still
// profit from the dictionary of earlier ones.
//
// The streams are counted objects shared through holders (the encoder's and, for one
// rectangle, a zip_writer's; the decoder's and a stream_in_zip's). They have no locks: a
// compressor is used only on its encoder's executor, a decompressor only in its decoder's tasks.
// Failures raise vantor::exception:
//   "zlib_stream: deflateInit failed", "zlib_stream: deflate failed",
//   "zlib_stream: deflateReset failed", "zlib_stream: inflateInit failed",
//   corrupt input on inflate: internal error 267;
//   checkpoints: "invalid zlib version linked", "zlib_stream: sizes restore failed",
//   "zlib_stream: restore failed".
#include <cstddef>

#include "vantor/core/refc_obj.h"

class netbuf;

namespace kova {

// One direction of compression as the rectangle coders drive it.
class stream_ifc {
public:
    // Feeds input; what zlib produces collects in the stream's output buffer.
    virtual void write(const void* bytes, std::size_t length) = 0;
    // Completes the output of everything fed so far (sync flush). A flush with no new input has
    // nothing to write and is not an error.
    virtual void flush() = 0;
    // Moves the produced output to the end of `target`; the output buffer is left empty.
    virtual void take_output(netbuf& target) = 0;
    // Compressor: the next output starts a new zlib stream, header included. Decompressor: the
    // next input is read as a new zlib stream. Output not yet taken is discarded.
    virtual void reset() = 0;

protected:
    ~stream_ifc() = default;
};

class stream_compress;
class stream_decompress;
using compress_holder = vantor::refc_obj<stream_compress>;
using decompress_holder = vantor::refc_obj<stream_decompress>;

class stream_compress : public vantor::refc_obj_class, public stream_ifc {
public:
    // Fills an empty holder with a new zlib compressor (not initialised until its first write);
    // a filled holder is left as it is.
    static void create(compress_holder& holder);

    // A new compressor with an independent copy of this one's state.
    virtual compress_holder clone() const = 0;
    // The compressor's complete state as a checkpoint that restore_state of a fresh compressor
    // of the same build takes back; the base answers an empty netbuf.
    virtual netbuf save_state();
    // Continues the stream saved in `state`, so that the next output is byte for byte what the
    // saved compressor would have produced; the base does nothing.
    virtual void restore_state(const netbuf& state);

protected:
    stream_compress() = default;
    ~stream_compress() override = default;
};

class stream_decompress : public vantor::refc_obj_class, public stream_ifc {
public:
    // Fills an empty holder with a new zlib decompressor; a filled holder is left as it is.
    static void create(decompress_holder& holder);

    // A new decompressor with a copy of this one's state, or an empty holder when zlib cannot
    // copy it.
    virtual decompress_holder clone() const = 0;

protected:
    stream_decompress() = default;
    ~stream_decompress() override = default;
};

}  // namespace kova
