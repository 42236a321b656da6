#include "kova/protocol/region.h"

#include <algorithm>
#include <utility>

namespace kova {

namespace {

HRGN new_empty_region() noexcept
{
    return CreateRectRgn(0, 0, 0, 0);
}

HRGN new_rect_region(const vantor_abi::Rect& r) noexcept
{
    if (!r.is_valid()) {
        return new_empty_region();
    }
    return CreateRectRgn(r.x, r.y, r.x + r.w, r.y + r.h);
}

vantor_abi::Rect rect_of(const RECT& r) noexcept
{
    return vantor_abi::Rect{r.left, r.top, r.right - r.left, r.bottom - r.top};
}

// The remainder of a truncating division, as the grid covering defines it: it has the sign of
// the dividend, so negative starts snap toward zero.
std::int32_t snap_down(std::int32_t v, std::int32_t cell) noexcept
{
    return v - v % cell;
}

}  // namespace

Region::Region() : handle_(new_empty_region()) {}

Region::Region(const vantor_abi::Rect& r) : handle_(new_rect_region(r)) {}

Region::Region(const Region& other) : handle_(new_empty_region())
{
    CombineRgn(handle_.get(), other.handle_.get(), nullptr, RGN_COPY);
}

Region& Region::operator=(const Region& other)
{
    if (this != &other) {
        drop_rects();
        CombineRgn(handle_.get(), other.handle_.get(), nullptr, RGN_COPY);
    }
    return *this;
}

Region::Region(Region&& other) : handle_(new_empty_region())
{
    swap(other);
}

Region& Region::operator=(Region&& other) noexcept
{
    if (this != &other) {
        // The moved-from region must stay a usable empty region.
        swap(other);
        other.clear();
    }
    return *this;
}

Region::~Region() = default;

void Region::add(const Region& other)
{
    drop_rects();
    CombineRgn(handle_.get(), handle_.get(), other.handle_.get(), RGN_OR);
}

void Region::intersect(const Region& other)
{
    drop_rects();
    CombineRgn(handle_.get(), handle_.get(), other.handle_.get(), RGN_AND);
}

void Region::subtract(const Region& other)
{
    drop_rects();
    CombineRgn(handle_.get(), handle_.get(), other.handle_.get(), RGN_DIFF);
}

void Region::translate(std::int32_t dx, std::int32_t dy)
{
    drop_rects();
    OffsetRgn(handle_.get(), dx, dy);
}

void Region::clear()
{
    drop_rects();
    SetRectRgn(handle_.get(), 0, 0, 0, 0);
}

void Region::add_rect(const vantor_abi::Rect& r)
{
    if (!r.is_valid()) {
        return;
    }
    drop_rects();
    region_handle piece(new_rect_region(r));
    CombineRgn(handle_.get(), handle_.get(), piece.get(), RGN_OR);
}

void Region::intersect_rect(const vantor_abi::Rect& r)
{
    drop_rects();
    if (!r.is_valid()) {
        SetRectRgn(handle_.get(), 0, 0, 0, 0);
        return;
    }
    region_handle piece(new_rect_region(r));
    CombineRgn(handle_.get(), handle_.get(), piece.get(), RGN_AND);
}

void Region::swap(Region& other) noexcept
{
    std::swap(handle_, other.handle_);
    std::swap(rects_valid_, other.rects_valid_);
    std::swap(rect_data_, other.rect_data_);
}

bool Region::equals(const Region& other) const
{
    return EqualRgn(handle_.get(), other.handle_.get()) != FALSE;
}

bool Region::not_empty() const
{
    RECT box{};
    int kind = GetRgnBox(handle_.get(), &box);
    if (kind == NULLREGION) {
        return false;
    }
    if (kind == SIMPLEREGION && box.left == box.right && box.top == box.bottom) {
        return false;
    }
    return true;
}

bool Region::intersects(const vantor_abi::Rect& r) const
{
    if (!r.is_valid()) {
        return false;
    }
    RECT box{r.x, r.y, r.x + r.w, r.y + r.h};
    return RectInRegion(handle_.get(), &box) == TRUE;
}

vantor_abi::Rect Region::bounds() const
{
    if (rects_valid_) {
        const RGNDATA* d = data();
        if (d == nullptr) {
            return vantor_abi::Rect{};
        }
        return rect_of(d->rdh.rcBound);
    }
    RECT box{};
    GetRgnBox(handle_.get(), &box);
    return rect_of(box);
}

int Region::rect_count() const
{
    refresh_rects();
    const RGNDATA* d = data();
    return d == nullptr ? 0 : static_cast<int>(d->rdh.nCount);
}

bool Region::get_rects(std::vector<vantor_abi::Rect>& out, bool left_to_right, bool top_to_bottom) const
{
    refresh_rects();
    const RGNDATA* d = data();
    if (d == nullptr || d->rdh.nCount == 0) {
        out.clear();
        return false;
    }
    const std::size_t n = d->rdh.nCount;
    const auto* rects = reinterpret_cast<const RECT*>(d->Buffer);
    out.resize(n);
    // Bands are runs of rectangles with the same top; GDI stores them top to bottom and each
    // band left to right. The requested order reverses the band order and / or the order
    // inside each band.
    std::size_t written = 0;
    std::size_t band_start = 0;
    std::vector<std::pair<std::size_t, std::size_t>> bands;
    for (std::size_t k = 1; k <= n; ++k) {
        if (k == n || rects[k].top != rects[band_start].top) {
            bands.emplace_back(band_start, k);
            band_start = k;
        }
    }
    if (!top_to_bottom) {
        std::reverse(bands.begin(), bands.end());
    }
    for (const auto& [first, last] : bands) {
        for (std::size_t k = first; k < last; ++k) {
            std::size_t index = left_to_right ? k : first + (last - 1 - k);
            out[written++] = rect_of(rects[index]);
        }
    }
    return true;
}

void Region::simplify()
{
    int n = rect_count();
    if (n <= 4) {
        return;
    }
    Region work(*this);
    const Region box(work.bounds());
    for (std::int32_t cell : {12, 16}) {
        if (n <= 4) {
            break;
        }
        Region grid = snapped_to_grid(work, cell, cell);
        grid.intersect(box);
        work.swap(grid);
        n = work.rect_count();
    }
    if (!work.equals(*this)) {
        swap(work);
    }
}

Region Region::snapped_to_grid(const Region& source, std::int32_t margin, std::int32_t cell)
{
    Region result;
    std::vector<vantor_abi::Rect> rects;
    if (!source.get_rects(rects, true, true)) {
        return result;
    }
    for (const auto& r : rects) {
        std::int32_t left = snap_down(r.x - margin, cell);
        std::int32_t top = snap_down(r.y - margin, cell);
        std::int32_t right = snap_down(r.x + r.w + margin + cell - 1, cell);
        std::int32_t bottom = snap_down(r.y + r.h + margin + cell - 1, cell);
        result.add_rect(vantor_abi::Rect{left, top, right - left, bottom - top});
    }
    return result;
}

void Region::refresh_rects() const
{
    if (rects_valid_) {
        return;
    }
    rect_data_.reset();
    DWORD size = GetRegionData(handle_.get(), 0, nullptr);
    if (size == 0) {
        rects_valid_ = true;
        return;
    }
    auto block = std::make_unique<std::uint8_t[]>(size);
    if (GetRegionData(handle_.get(), size, reinterpret_cast<RGNDATA*>(block.get())) != size) {
        return;
    }
    rect_data_ = std::move(block);
    rects_valid_ = true;
}

void Region::drop_rects() const noexcept
{
    rect_data_.reset();
    rects_valid_ = false;
}

}  // namespace kova
