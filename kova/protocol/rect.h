#pragma once
// The point and rectangle shared by the screen engine, the grabbers, the viewer and the plug-in
// boundary: plain 32-bit records with fixed layout.
#include <cstdint>

namespace vantor_abi {

struct Point {
    std::int32_t x = 0;
    std::int32_t y = 0;

    bool operator==(const Point&) const = default;
};

// Position and size, not corners. Valid when w >= 0 and h >= 0; {0, 0, -1, -1} is the "none"
// value (what a default-constructed rectangle holds). A valid rectangle of width or height 0
// covers no pixel. As a platform rectangle it is (x, y, x + w, y + h), right and bottom
// exclusive.
struct Rect {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t w = -1;
    std::int32_t h = -1;

    bool operator==(const Rect&) const = default;

    bool is_valid() const noexcept { return w >= 0 && h >= 0; }
    // w * h for a valid rectangle, else 0; 64-bit so that large rectangles do not overflow.
    std::int64_t area() const noexcept
    {
        return is_valid() ? static_cast<std::int64_t>(w) * static_cast<std::int64_t>(h) : 0;
    }
    // Both edges inclusive: x <= px <= x + w and y <= py <= y + h.
    bool contains(std::int32_t px, std::int32_t py) const noexcept
    {
        return x <= px && px <= x + w && y <= py && py <= y + h;
    }
    // Both corners (x, y) and (x + w, y + h) of `other` satisfy contains.
    bool contains_rect(const Rect& other) const noexcept
    {
        return contains(other.x, other.y) && contains(other.x + other.w, other.y + other.h);
    }

    // When this is not valid it becomes `other` (valid or not); an invalid `other` changes
    // nothing; otherwise this becomes the smallest rectangle holding both.
    void unite(const Rect& other) noexcept;
    // Edges are inclusive (rectangles that only touch overlap) and validity is not tested.
    bool intersects(const Rect& other) const noexcept;
    // Clips this to `bounds`. When the two do not meet (intersects is false) this becomes
    // {0, 0, -1, -1} and the result is false; otherwise true, even when the clipped rectangle
    // has width or height 0.
    bool clip_to(const Rect& bounds) noexcept;
};

}  // namespace vantor_abi
