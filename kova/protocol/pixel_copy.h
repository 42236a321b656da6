#pragma once
// Rectangle moves inside one frame buffer and the two cursor drawing operations on 32-bit
// pixels. The caller guarantees that every rectangle lies inside its buffer.
#include <cstdint>

#include "kova/protocol/rect.h"

namespace kova {

using vantor_abi::Point;
using vantor_abi::Rect;

// Moves the dest.w x dest.h block whose top-left corner is src to dest, at 1, 2 or 4 bytes per
// pixel. Rows run bottom-up when src.y < dest.y, else top-down, each moved with an
// overlap-tolerant copy, so overlapping moves copy the pixels as they were before the move.
void copy_pixels_8(std::uint8_t* base, std::int32_t stride, const Rect& dest, const Point& src);
void copy_pixels_16(std::uint8_t* base, std::int32_t stride, const Rect& dest, const Point& src);
void copy_pixels_32(std::uint8_t* base, std::int32_t stride, const Rect& dest, const Point& src);
// One of the three by the pixel size; any other size is a broken invariant that ends the
// process.
void copy_pixels_by_bpp(int bytes_per_pixel, std::uint8_t* base, std::int32_t stride, const Rect& dest,
                        const Point& src);

// Replaces the destination pixels of r whose mask bit is set (most significant bit first; each
// mask row is (r.w + 7) / 8 bytes) by the source pixels; src starts at its own origin.
void copy_pixels_masked_32(std::uint8_t* dst, std::int32_t dst_stride, const Rect& r, const std::uint8_t* src,
                           std::int32_t src_stride, const std::uint8_t* mask);

// Blends the source (byte 3 = alpha) over the destination colour bytes of r:
// dst = (src * a + dst * (255 - a)) >> 8; the destination's byte 3 is kept.
void blend_argb(std::uint8_t* dst, std::int32_t dst_stride, const Rect& r, const std::uint8_t* src,
                std::int32_t src_stride);

}  // namespace kova
