#pragma once
// Helpers shared by the region, tracker and frame tests: regions built from rectangles and
// regions and rectangles written as text, so that a failed comparison shows the pixels.
#include <initializer_list>
#include <string>
#include <vector>

#include "kova/protocol/rect.h"
#include "kova/protocol/region.h"

namespace region_test {

inline std::string text_of(const vantor_abi::Rect& r)
{
    return "{" + std::to_string(r.x) + "," + std::to_string(r.y) + "," + std::to_string(r.w) + "," +
           std::to_string(r.h) + "}";
}

inline std::string text_of(const std::vector<vantor_abi::Rect>& rects)
{
    std::string out;
    for (const vantor_abi::Rect& r : rects) {
        out += text_of(r);
    }
    return out;
}

// The rectangles in the requested order, as text; "" for an empty region.
inline std::string rects_of(const kova::Region& r, bool left_to_right = true, bool top_to_bottom = true)
{
    std::vector<vantor_abi::Rect> rects;
    r.get_rects(rects, left_to_right, top_to_bottom);
    return text_of(rects);
}

inline kova::Region region_of(std::initializer_list<vantor_abi::Rect> rects)
{
    kova::Region r;
    for (const vantor_abi::Rect& piece : rects) {
        r.add_rect(piece);
    }
    return r;
}

}  // namespace region_test
