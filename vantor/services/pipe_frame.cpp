#include "vantor/services/pipe_frame.h"

#include <cstring>

#include "vantor/core/exception.h"
#include "vantor/core/netbuf.h"

namespace vantor {
namespace {

void put_le(std::uint8_t* out, std::uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i) {
        out[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

std::uint64_t get_le(const std::uint8_t* in, int bytes)
{
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) {
        value = (value << 8) | in[i];
    }
    return value;
}

}  // namespace

netbuf ipc_frame::wrap(const netbuf& body)
{
    std::size_t length = body.size();
    if (static_cast<std::uint64_t>(length) > static_cast<std::uint64_t>(ipc_frame_max_body)) {
        throw exception("frame body too long");
    }
    std::uint8_t header[header_size];
    put_le(header, magic, 4);
    put_le(header + 4, static_cast<std::uint64_t>(length), 8);
    netbuf framed;
    framed.append_bytes(header, header_size);
    if (length != 0) {
        for (netbuf::cursor c(body); c.valid(); c.next()) {
            const std::uint8_t* data = nullptr;
            std::size_t n = 0;
            c.data(&data, &n);
            framed.append_bytes(data, n);
        }
    }
    return framed;
}

bool ipc_frame::extract(netbuf& stream, netbuf& message)
{
    std::size_t buffered = stream.size();
    if (buffered < header_size) {
        return false;
    }
    std::uint8_t header[header_size];
    stream.peek_12_bytes(header);
    if (get_le(header, 4) != magic) {
        throw internal_error(10);
    }
    auto length = static_cast<std::int64_t>(get_le(header + 4, 8));
    if (length < 0 || length > ipc_frame_max_body) {
        throw exception("invalid frame length");
    }
    if (static_cast<std::int64_t>(buffered) - static_cast<std::int64_t>(header_size) < length) {
        return false;
    }
    message = netbuf::construct_range(stream, header_size, static_cast<std::size_t>(length));
    stream.drop_front(header_size + static_cast<std::size_t>(length));
    return true;
}

}  // namespace vantor
