#pragma once
// Copies a block of 32-bit pixels from a buffer with its own row stride into a bitmap.
#include <cstdint>

#include "kova/protocol/rect.h"

namespace kova {

// Copies r.h rows of r.w pixels from `source` (rows `source_stride` bytes apart) to the bitmap at
// base + r.y * stride + r.x * 4 (rows `stride` bytes apart); answers the bytes per row, r.w * 4.
// An invalid rectangle copies nothing and answers 0. The caller keeps both blocks inside their
// buffers.
std::int32_t copy_rect_pixels32(std::uint8_t* base, std::int32_t stride, const vantor_abi::Rect& r,
                                const std::uint8_t* source, std::int32_t source_stride);

}  // namespace kova
