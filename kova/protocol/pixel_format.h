#pragma once
// The pixel format of the desktop stream as held in memory: what a frame is captured in and what
// the viewer asks for with SetPixelFormat. Plain value record; its 16-byte wire form is written
// and read by the stream codecs.
#include <cstdint>

namespace kova {

struct pixel_format {
    std::int32_t bpp = 32;  // bits per pixel
    std::int32_t depth = 24;
    std::uint8_t big_endian = 0;
    std::uint8_t true_colour = 1;
    // For each colour: max holds a 16-bit value, half = max >> 1, shift holds an 8-bit value,
    // mask = max << shift.
    std::uint32_t red_max = 255;
    std::uint32_t red_half = 127;
    std::uint32_t red_shift = 16;
    std::uint32_t red_mask = 0xff0000;
    std::uint32_t green_max = 255;
    std::uint32_t green_half = 127;
    std::uint32_t green_shift = 8;
    std::uint32_t green_mask = 0xff00;
    std::uint32_t blue_max = 255;
    std::uint32_t blue_half = 127;
    std::uint32_t blue_shift = 0;
    std::uint32_t blue_mask = 0xff;

    // The default: 32 bits per pixel, depth 24, little-endian, true colour, maxima 255 at shifts
    // 16, 8 and 0.
    pixel_format() = default;

    // Stores the values and derives half and mask of each colour; maxima are cut to 16 bits and
    // shifts to 8 bits, as the wire carries them.
    void set(std::int32_t bpp, std::int32_t depth, bool big_endian, bool true_colour, std::uint32_t red_max,
             std::uint32_t green_max, std::uint32_t blue_max, std::uint32_t red_shift, std::uint32_t green_shift,
             std::uint32_t blue_shift);

    // Compares bpp, depth, both flags and each colour's max and shift; half and mask are derived
    // and not compared.
    bool equals(const pixel_format& other) const noexcept;

    // For a 32-bit true-colour format: whether every colour bit lies in the first (last) three
    // bytes of the pixel in memory order, the format's byte order taken into account. False for
    // any other format.
    bool cpixel_first3() const noexcept;
    bool cpixel_last3() const noexcept;

    // Whether a true-colour format's channels can be translated: every maximum is at least 1 and
    // every channel (max << shift) lies inside the pixel's bpp bits. A colour-mapped format does
    // not use its channels and always passes. A format from the peer that fails would divide by
    // zero or shift past the pixel width in the translation tables.
    bool channels_fit() const noexcept;
};

}  // namespace kova
