#pragma once
// Colour maps of colour-mapped pixel formats: the abstract map that a frame of 8 bits per pixel
// supplies, and the fixed 6 x 6 x 6 colour cube into which true-colour pixels are quantised for a
// viewer that asks for colour-mapped pixels.
#include <cstdint>
#include <memory>

namespace kova {

// The colours of a colour-mapped format. Implemented by frames of 8 bits per pixel (over the
// capture's palette) and by ColorCube. Read on the encoder's executor while translation tables
// are built; the caller owns the map.
class ColorMap {
public:
    virtual ~ColorMap() = default;
    // The colour of one map index as three 16-bit intensities (0 to 65535). An index the map
    // does not hold leaves the outputs unchanged.
    virtual void lookup(std::uint32_t index, std::uint32_t& red, std::uint32_t& green,
                        std::uint32_t& blue) const = 0;
};

inline constexpr std::int32_t colour_cube_levels = 6;
inline constexpr std::uint32_t colour_cube_size = 216;

// A colour map whose index k = (r x green levels + g) x blue levels + b encodes the levels of a
// point of an RGB cube (blue varies fastest). Every cube has 6 levels per colour; entries[k] is
// the pixel value that stands for index k and holds k. Built and read on one thread; never
// changes after construction.
class ColorCube final : public ColorMap {
public:
    ColorCube();
    ColorCube(const ColorCube&) = delete;
    ColorCube& operator=(const ColorCube&) = delete;
    ~ColorCube() override;

    // For k below 216: each level L becomes (L x 65535 + (levels - 1) / 2) / (levels - 1), so
    // 0, 13107, 26214, 39321, 52428 and 65535. Reads the levels, not the entries.
    void lookup(std::uint32_t index, std::uint32_t& red, std::uint32_t& green,
                std::uint32_t& blue) const override;

    std::int32_t red_levels() const noexcept { return red_levels_; }
    std::int32_t green_levels() const noexcept { return green_levels_; }
    std::int32_t blue_levels() const noexcept { return blue_levels_; }
    // red levels x green levels x blue levels values.
    const std::uint32_t* entries() const noexcept { return entries_.get(); }

private:
    std::int32_t red_levels_ = colour_cube_levels;
    std::int32_t green_levels_ = colour_cube_levels;
    std::int32_t blue_levels_ = colour_cube_levels;
    std::unique_ptr<std::uint32_t[]> entries_;
};

}  // namespace kova
