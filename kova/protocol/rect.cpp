#include "kova/protocol/rect.h"

#include <algorithm>

namespace vantor_abi {

void Rect::unite(const Rect& other) noexcept
{
    if (!is_valid()) {
        *this = other;
        return;
    }
    if (!other.is_valid()) {
        return;
    }
    std::int32_t left = std::min(x, other.x);
    std::int32_t top = std::min(y, other.y);
    std::int32_t right = std::max(x + w, other.x + other.w);
    std::int32_t bottom = std::max(y + h, other.y + other.h);
    *this = Rect{left, top, right - left, bottom - top};
}

bool Rect::intersects(const Rect& other) const noexcept
{
    return x <= other.x + other.w && x + w >= other.x && y <= other.y + other.h && y + h >= other.y;
}

bool Rect::clip_to(const Rect& bounds) noexcept
{
    if (!intersects(bounds)) {
        *this = Rect{};
        return false;
    }
    if (x < bounds.x) {
        w -= bounds.x - x;
        x = bounds.x;
    }
    if (y < bounds.y) {
        h -= bounds.y - y;
        y = bounds.y;
    }
    if (x + w > bounds.x + bounds.w) {
        w = bounds.x + bounds.w - x;
    }
    if (y + h > bounds.y + bounds.h) {
        h = bounds.y + bounds.h - y;
    }
    return true;
}

}  // namespace vantor_abi
