#include "kova/protocol/copy_rect_pixels.h"

#include <cstddef>
#include <cstring>

namespace kova {

std::int32_t copy_rect_pixels32(std::uint8_t* base, std::int32_t stride, const vantor_abi::Rect& r,
                                const std::uint8_t* source, std::int32_t source_stride)
{
    if (!r.is_valid()) {
        return 0;
    }
    const auto row_bytes = static_cast<std::size_t>(r.w) * 4;
    std::uint8_t* dest =
        base + static_cast<std::ptrdiff_t>(r.y) * stride + static_cast<std::ptrdiff_t>(r.x) * 4;
    for (std::int32_t row = 0; row < r.h; ++row) {
        std::memcpy(dest, source, row_bytes);
        dest += stride;
        source += source_stride;
    }
    return r.w * 4;
}

}  // namespace kova
