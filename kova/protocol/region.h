#pragma once
// kova::Region: a set of screen pixels held in a GDI region, with a cached list of the region's
// rectangles. Every area the screen engine reasons about (what changed, what moved, what was
// sent lossy, what a grabber clips to) is one of these.
//
// A Region is owned by one object and used on that object's thread (the encoder's executor, a
// grabber's thread, a decoder task); it has no lock. GDI region handles are process-wide, so a
// Region may be handed to another thread between uses.
//
// The rectangle list is GDI's own y-x banded decomposition: non-overlapping rectangles grouped
// into bands that share top and bottom, bands in ascending y, rectangles of a band in ascending
// x. Every rectangle count and order that goes on the wire derives from it.
//
// GDI's answers to creating and combining regions are not checked: a failed combination leaves
// the region as GDI leaves it, and a failed fetch of the rectangle data leaves the cache dropped
// (the next read tries again). No operation throws except by allocation failure.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "kova/protocol/rect.h"
#include "vantor/core/win_api.h"
#include "vantor/core/win_handle.h"

namespace kova {

struct region_handle_policy {
    using value_type = HRGN;
    static value_type empty() noexcept { return nullptr; }
    static bool is_empty(value_type v) noexcept { return v == nullptr; }
    static BOOL close(value_type v) noexcept { return DeleteObject(v); }
};
using region_handle = vantor::unique_win_object<region_handle_policy>;

class Region {
public:
    // The empty region.
    Region();
    // The region of r when r is valid, else the empty region.
    explicit Region(const vantor_abi::Rect& r);
    // Copies the pixels, never the cached rectangles.
    Region(const Region& other);
    Region& operator=(const Region& other);  // assign
    // The moved-from region is left empty (it keeps a GDI region of its own).
    Region(Region&& other);
    Region& operator=(Region&& other) noexcept;
    virtual ~Region();

    void add(const Region& other);        // this = this | other
    void intersect(const Region& other);  // this = this & other
    void subtract(const Region& other);   // this = this - other
    void assign(const Region& other) { *this = other; }
    void translate(std::int32_t dx, std::int32_t dy);
    void clear();
    // An invalid r changes nothing.
    void add_rect(const vantor_abi::Rect& r);
    // An invalid r empties the region.
    void intersect_rect(const vantor_abi::Rect& r);
    // Exchanges the GDI regions together with their caches.
    void swap(Region& other) noexcept;

    // Both cover the same pixels.
    bool equals(const Region& other) const;
    // False when GDI reports the region as null or as a simple region whose box has no extent;
    // true for any other answer, a failed query included.
    bool not_empty() const;
    bool is_empty() const { return !not_empty(); }
    // GDI's rectangle-in-region test; false for an invalid r.
    bool intersects(const vantor_abi::Rect& r) const;
    // The bounding box; {0, 0, 0, 0} for an empty region.
    vantor_abi::Rect bounds() const;
    int rect_count() const;
    // Fills `out` with the rectangles, bands top to bottom or bottom to top and the rectangles of
    // each band left to right or right to left. A copy by (dx, dy) is applied in the order
    // left_to_right = (dx <= 0), top_to_bottom = (dy <= 0), so that no source pixel is
    // overwritten before it is read. Returns false, with `out` emptied, for a region without
    // rectangles.
    bool get_rects(std::vector<vantor_abi::Rect>& out, bool left_to_right = true, bool top_to_bottom = true) const;

    // A coarse covering that keeps the rectangle count of an update small: a region of more
    // than 4 rectangles is replaced by its 12-pixel grid covering and, when that still has more
    // than 4, by the 16-pixel grid covering of the result, each clipped to the region's bounding
    // box. A region of 4 rectangles or fewer is left as it is.
    void simplify();
    // The union over the source's rectangles of each rectangle grown by `margin` on every side
    // and snapped outward to multiples of `cell` (the remainder taken with truncating division,
    // so a start that becomes negative snaps toward zero). `cell` must be positive.
    static Region snapped_to_grid(const Region& source, std::int32_t margin, std::int32_t cell);

    HRGN handle() const noexcept { return handle_.get(); }

private:
    void refresh_rects() const;
    void drop_rects() const noexcept;
    // The cached region data: a header followed by the rectangles; null when absent.
    const RGNDATA* data() const noexcept { return reinterpret_cast<const RGNDATA*>(rect_data_.get()); }

    region_handle handle_;
    mutable bool rects_valid_ = false;
    mutable std::unique_ptr<std::uint8_t[]> rect_data_;
};

inline void swap(Region& a, Region& b) noexcept
{
    a.swap(b);
}

}  // namespace kova
