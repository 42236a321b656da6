#include "kova/protocol/pixel_format.h"

namespace kova {
namespace {

// The bits a channel occupies, computed wide so that no shift is out of range; a channel shifted
// past bit 31 counts as all bits set, since it lies outside every pixel.
std::uint64_t channel_bits(std::uint32_t max, std::uint32_t shift) noexcept
{
    if (max == 0) {
        return 0;
    }
    return shift >= 32 ? ~std::uint64_t{0} : std::uint64_t{max} << shift;
}

std::uint64_t colour_bits(const pixel_format& f) noexcept
{
    return channel_bits(f.red_max, f.red_shift) | channel_bits(f.green_max, f.green_shift) |
           channel_bits(f.blue_max, f.blue_shift);
}

bool is_32bit_true_colour(const pixel_format& f) noexcept { return f.bpp == 32 && f.true_colour != 0; }

}  // namespace

void pixel_format::set(std::int32_t bpp_value, std::int32_t depth_value, bool big_endian_value,
                       bool true_colour_value, std::uint32_t red_max_value, std::uint32_t green_max_value,
                       std::uint32_t blue_max_value, std::uint32_t red_shift_value, std::uint32_t green_shift_value,
                       std::uint32_t blue_shift_value)
{
    bpp = bpp_value;
    depth = depth_value;
    big_endian = big_endian_value ? 1 : 0;
    true_colour = true_colour_value ? 1 : 0;
    red_max = red_max_value & 0xffff;
    green_max = green_max_value & 0xffff;
    blue_max = blue_max_value & 0xffff;
    red_shift = red_shift_value & 0xff;
    green_shift = green_shift_value & 0xff;
    blue_shift = blue_shift_value & 0xff;
    red_half = red_max >> 1;
    green_half = green_max >> 1;
    blue_half = blue_max >> 1;
    // A shift of 32 or more leaves nothing of the channel in a 32-bit mask.
    red_mask = red_shift < 32 ? red_max << red_shift : 0;
    green_mask = green_shift < 32 ? green_max << green_shift : 0;
    blue_mask = blue_shift < 32 ? blue_max << blue_shift : 0;
}

bool pixel_format::equals(const pixel_format& other) const noexcept
{
    return bpp == other.bpp && depth == other.depth && big_endian == other.big_endian &&
           true_colour == other.true_colour && red_max == other.red_max && red_shift == other.red_shift &&
           green_max == other.green_max && green_shift == other.green_shift && blue_max == other.blue_max &&
           blue_shift == other.blue_shift;
}

bool pixel_format::cpixel_first3() const noexcept
{
    if (!is_32bit_true_colour(*this)) {
        return false;
    }
    // Little-endian pixels keep bits 0-23 in their first three bytes, big-endian ones bits 8-31.
    std::uint64_t outside = big_endian != 0 ? ~std::uint64_t{0xffffff00} : ~std::uint64_t{0x00ffffff};
    return (colour_bits(*this) & outside) == 0;
}

bool pixel_format::cpixel_last3() const noexcept
{
    if (!is_32bit_true_colour(*this)) {
        return false;
    }
    std::uint64_t outside = big_endian != 0 ? ~std::uint64_t{0x00ffffff} : ~std::uint64_t{0xffffff00};
    return (colour_bits(*this) & outside) == 0;
}

bool pixel_format::channels_fit() const noexcept
{
    if (true_colour == 0) {
        return true;
    }
    if (bpp <= 0 || bpp > 32 || red_max == 0 || green_max == 0 || blue_max == 0) {
        return false;
    }
    std::uint64_t pixel_bits = (std::uint64_t{1} << bpp) - 1;
    return (colour_bits(*this) & ~pixel_bits) == 0;
}

}  // namespace kova
