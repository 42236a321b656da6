#pragma once
// The frame that cuts an inter-process byte stream into messages: a 12-byte little-endian
// header {magic 0xCAFEBADE (bytes DE BA FE CA); body length, signed 64-bit} and the body.
#include <cstddef>
#include <cstdint>

class netbuf;

namespace vantor {

// The largest body a frame may announce; longer (or negative) lengths are refused.
inline constexpr std::int64_t ipc_frame_max_body = 64 * 1024 * 1024;

struct ipc_frame {
    static constexpr std::uint32_t magic = 0xCAFEBADE;
    static constexpr std::size_t header_size = 12;

    // A new buffer holding the header and a copy of the body's bytes; the caller keeps `body`.
    // Throws "frame body too long" for a body above ipc_frame_max_body.
    static netbuf wrap(const netbuf& body);

    // Takes one complete message off the front of `stream` into `message` (replacing what it
    // held) and returns true; false while the message is incomplete (the bytes stay). A wrong
    // magic throws internal error 10 and a negative or oversized length throws "invalid frame
    // length"; in both cases the stream is left as it was. Callers loop while it returns true.
    static bool extract(netbuf& stream, netbuf& message);
};

}  // namespace vantor
