#include "kova/protocol/stream_in.h"

#include <algorithm>
#include <cstring>

namespace kova {

std::uint8_t stream_in::read_u8()
{
    ensure(1);
    return *cursor_++;
}

std::uint16_t stream_in::read_u16()
{
    ensure(2);
    auto v = static_cast<std::uint16_t>((cursor_[0] << 8) | cursor_[1]);
    cursor_ += 2;
    return v;
}

std::uint32_t stream_in::read_u32()
{
    ensure(4);
    std::uint32_t v = (std::uint32_t{cursor_[0]} << 24) | (std::uint32_t{cursor_[1]} << 16) |
                      (std::uint32_t{cursor_[2]} << 8) | std::uint32_t{cursor_[3]};
    cursor_ += 4;
    return v;
}

std::uint32_t stream_in::readCompactU32()
{
    if (!compact_) {
        return read_u32();
    }
    // The lead byte is consumed before the continuation bytes are asked for; when those have
    // not arrived the receive loop rewinds to the message start.
    std::uint8_t lead = read_u8();
    if (lead < 0x80) {
        return lead;
    }
    if (lead < 0xC0) {
        return (std::uint32_t{lead & 0x3Fu} << 8) | read_u8();
    }
    if (lead < 0xE0) {
        ensure(2);
        std::uint32_t v = (std::uint32_t{lead & 0x1Fu} << 16) | (std::uint32_t{cursor_[0]} << 8) | cursor_[1];
        cursor_ += 2;
        return v;
    }
    return read_u32();
}

std::uint32_t stream_in::read_u16c()
{
    return compact_ ? readCompactU32() : read_u16();
}

std::int16_t stream_in::decode_signed(std::uint32_t v) const noexcept
{
    if (!compact_) {
        return static_cast<std::int16_t>(v & 0xFFFF);
    }
    // The magnitude is taken from the whole code before the result is cut to 16 bits, so the
    // code of -32768 (65537) comes back as -32768.
    std::uint32_t magnitude = v >> 1;
    std::uint32_t value = (v & 1) != 0 ? 0u - magnitude : magnitude;
    return static_cast<std::int16_t>(value & 0xFFFF);
}

void stream_in::skip(std::size_t n)
{
    while (n > 0) {
        std::size_t step = std::min(ensure(1), n);
        cursor_ += step;
        n -= step;
    }
}

void stream_in::read_bytes(void* dst, std::size_t n)
{
    auto* out = static_cast<std::uint8_t*>(dst);
    while (n > 0) {
        std::size_t step = std::min(ensure(1), n);
        std::memcpy(out, cursor_, step);
        cursor_ += step;
        out += step;
        n -= step;
    }
}

void stream_in_mem::set_window(const void* data, std::size_t length) noexcept
{
    if (data == nullptr) {
        length = 0;
    }
    cursor_ = static_cast<const std::uint8_t*>(data);
    end_ = cursor_ == nullptr ? nullptr : cursor_ + length;
    window_length_ = length;
}

std::size_t stream_in_mem::ensure(std::size_t size, std::size_t)
{
    std::size_t left = available();
    if (left < size) {
        throw incomplete{};
    }
    return left;
}

}  // namespace kova
