#include "kova/protocol/colour_cube.h"

namespace kova {
namespace {

std::uint32_t level_intensity(std::uint32_t level, std::uint32_t levels)
{
    return (level * 0xffff + (levels - 1) / 2) / (levels - 1);
}

}  // namespace

ColorCube::ColorCube()
    : entries_(std::make_unique<std::uint32_t[]>(
          static_cast<std::size_t>(red_levels_) * static_cast<std::size_t>(green_levels_) *
          static_cast<std::size_t>(blue_levels_)))
{
    std::uint32_t n = static_cast<std::uint32_t>(red_levels_ * green_levels_ * blue_levels_);
    for (std::uint32_t k = 0; k < n; ++k) {
        entries_[k] = k;
    }
}

ColorCube::~ColorCube() = default;

void ColorCube::lookup(std::uint32_t index, std::uint32_t& red, std::uint32_t& green, std::uint32_t& blue) const
{
    auto r_levels = static_cast<std::uint32_t>(red_levels_);
    auto g_levels = static_cast<std::uint32_t>(green_levels_);
    auto b_levels = static_cast<std::uint32_t>(blue_levels_);
    if (index >= r_levels * g_levels * b_levels) {
        return;
    }
    blue = level_intensity(index % b_levels, b_levels);
    green = level_intensity((index / b_levels) % g_levels, g_levels);
    red = level_intensity(index / b_levels / g_levels, r_levels);
}

}  // namespace kova
