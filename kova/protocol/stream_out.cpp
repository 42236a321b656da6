#include "kova/protocol/stream_out.h"

#include <algorithm>
#include <cstring>

#include "vantor/core/netbuf.h"

namespace kova {

void stream_out::write_u8(std::uint8_t v)
{
    ensure(1);
    *cursor_++ = v;
    count(1);
}

void stream_out::write_u16(std::uint16_t v)
{
    ensure(2);
    cursor_[0] = static_cast<std::uint8_t>(v >> 8);
    cursor_[1] = static_cast<std::uint8_t>(v);
    cursor_ += 2;
    count(2);
}

void stream_out::write_u32(std::uint32_t v)
{
    ensure(4);
    cursor_[0] = static_cast<std::uint8_t>(v >> 24);
    cursor_[1] = static_cast<std::uint8_t>(v >> 16);
    cursor_[2] = static_cast<std::uint8_t>(v >> 8);
    cursor_[3] = static_cast<std::uint8_t>(v);
    cursor_ += 4;
    count(4);
}

void stream_out::write_compact_u32(std::uint32_t v)
{
    if (!compact_) {
        write_u32(v);
        return;
    }
    if (v < 0x80) {
        write_u8(static_cast<std::uint8_t>(v));
    } else if (v < 0x4000) {
        ensure(2);
        cursor_[0] = static_cast<std::uint8_t>(0x80 | (v >> 8));
        cursor_[1] = static_cast<std::uint8_t>(v);
        cursor_ += 2;
        count(2);
    } else if (v < 0x200000) {
        ensure(3);
        cursor_[0] = static_cast<std::uint8_t>(0xC0 | (v >> 16));
        cursor_[1] = static_cast<std::uint8_t>(v >> 8);
        cursor_[2] = static_cast<std::uint8_t>(v);
        cursor_ += 3;
        count(3);
    } else {
        write_u8(0xE0);
        write_u32(v);
    }
}

void stream_out::write_u16_compact(std::uint32_t v)
{
    v &= 0xFFFF;
    if (compact_) {
        write_compact_u32(v);
    } else {
        write_u16(static_cast<std::uint16_t>(v));
    }
}

void stream_out::write_signed16(std::int16_t v)
{
    if (!compact_) {
        write_u16(static_cast<std::uint16_t>(v));
        return;
    }
    std::int32_t wide = v;
    auto code = static_cast<std::uint32_t>(wide >= 0 ? 2 * wide : 1 - 2 * wide);
    write_compact_u32(code);
}

void stream_out::pad(std::size_t n)
{
    for (; n > 0; --n) {
        write_u8(0);
    }
}

void stream_out::write_bytes(const void* src, std::size_t n)
{
    const auto* in = static_cast<const std::uint8_t*>(src);
    while (n > 0) {
        std::size_t step = std::min(ensure(n), n);
        std::memcpy(cursor_, in, step);
        cursor_ += step;
        in += step;
        n -= step;
        count(step);
    }
}

void stream_out::write_netbuf(const netbuf& data)
{
    if (data.get() == nullptr) {
        return;
    }
    for (netbuf::cursor c(data); c.valid(); c.next()) {
        const std::uint8_t* bytes = nullptr;
        std::size_t length = 0;
        c.data(&bytes, &length);
        write_bytes(bytes, length);
    }
}

}  // namespace kova
