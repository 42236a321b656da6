#pragma once
// Saving and restoring the complete state of a deflate stream, so that a compressor in another
// encoder (of the same build) continues the stream byte for byte. Internal to the zlib
// compressor of stream_compress.h.
#include <zlib.h>

class netbuf;

namespace kova::zlib_checkpoint {

// The state of the initialised deflate stream in the packed form: its pending-output buffer,
// hash heads, match chains and window, each followed by its length, then the state record and
// the stream record with their sizes, then the zlib version text. Raises "invalid zlib version
// linked" unless the linked zlib is the one this code is built for.
netbuf save(z_stream& record);

// Copies a saved state into `record`, a deflate stream freshly initialised with the same
// parameters, and re-links its internal pointers. Raises "invalid zlib version linked",
// "zlib_stream: sizes restore failed" when a recorded size differs from the linked zlib's, or
// "zlib_stream: restore failed" for a malformed or inconsistent state; `record` is then left
// as freshly initialised.
void restore(z_stream& record, const netbuf& state);

}  // namespace kova::zlib_checkpoint
