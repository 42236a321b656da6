#include "kova/protocol/pixel_copy.h"

#include <cstring>

#include "vantor/core/crash_now.h"

namespace kova {
namespace {

void move_block(std::uint8_t* base, std::int32_t stride, const Rect& dest, const Point& src, int bpp)
{
    if (dest.w <= 0 || dest.h <= 0) return;
    const std::size_t row_bytes = static_cast<std::size_t>(dest.w) * bpp;
    auto row = [&](std::int32_t y, std::int32_t x) {
        return base + static_cast<std::ptrdiff_t>(y) * stride + static_cast<std::ptrdiff_t>(x) * bpp;
    };
    if (src.y < dest.y) {
        for (std::int32_t i = dest.h - 1; i >= 0; --i) {
            std::memmove(row(dest.y + i, dest.x), row(src.y + i, src.x), row_bytes);
        }
    } else {
        for (std::int32_t i = 0; i < dest.h; ++i) {
            std::memmove(row(dest.y + i, dest.x), row(src.y + i, src.x), row_bytes);
        }
    }
}

}  // namespace

void copy_pixels_8(std::uint8_t* base, std::int32_t stride, const Rect& dest, const Point& src)
{
    move_block(base, stride, dest, src, 1);
}

void copy_pixels_16(std::uint8_t* base, std::int32_t stride, const Rect& dest, const Point& src)
{
    move_block(base, stride, dest, src, 2);
}

void copy_pixels_32(std::uint8_t* base, std::int32_t stride, const Rect& dest, const Point& src)
{
    move_block(base, stride, dest, src, 4);
}

void copy_pixels_by_bpp(int bytes_per_pixel, std::uint8_t* base, std::int32_t stride, const Rect& dest,
                        const Point& src)
{
    switch (bytes_per_pixel) {
    case 1:
        return copy_pixels_8(base, stride, dest, src);
    case 2:
        return copy_pixels_16(base, stride, dest, src);
    case 4:
        return copy_pixels_32(base, stride, dest, src);
    default:
        vantor::crash_now();
    }
}

void copy_pixels_masked_32(std::uint8_t* dst, std::int32_t dst_stride, const Rect& r, const std::uint8_t* src,
                           std::int32_t src_stride, const std::uint8_t* mask)
{
    if (r.w <= 0 || r.h <= 0) return;
    const std::size_t mask_row = (static_cast<std::size_t>(r.w) + 7) / 8;
    std::uint8_t* d = dst + static_cast<std::ptrdiff_t>(r.y) * dst_stride + static_cast<std::ptrdiff_t>(r.x) * 4;
    for (std::int32_t y = 0; y < r.h; ++y) {
        for (std::int32_t j = 0; j < r.w; ++j) {
            if (mask[j / 8] & (0x80 >> (j % 8))) std::memcpy(d + j * 4, src + j * 4, 4);
        }
        d += dst_stride;
        src += src_stride;
        mask += mask_row;
    }
}

void blend_argb(std::uint8_t* dst, std::int32_t dst_stride, const Rect& r, const std::uint8_t* src,
                std::int32_t src_stride)
{
    if (r.w <= 0 || r.h <= 0) return;
    std::uint8_t* d = dst + static_cast<std::ptrdiff_t>(r.y) * dst_stride + static_cast<std::ptrdiff_t>(r.x) * 4;
    for (std::int32_t y = 0; y < r.h; ++y) {
        for (std::int32_t j = 0; j < r.w; ++j) {
            const std::uint8_t* s = src + j * 4;
            std::uint8_t* p = d + j * 4;
            const unsigned a = s[3];
            for (int c = 0; c < 3; ++c) p[c] = static_cast<std::uint8_t>((s[c] * a + p[c] * (255 - a)) >> 8);
        }
        d += dst_stride;
        src += src_stride;
    }
}

}  // namespace kova
