#include "kova/protocol/cursor_shape.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "vantor/core/exception.h"

namespace kova {
namespace {

constexpr std::uint32_t opaque_black = 0xff000000;
constexpr std::uint32_t opaque_white = 0xffffffff;
constexpr std::uint32_t arrow_fill = 0xfff0f0f0;
// Pixels less opaque than this count as transparent.
constexpr std::uint8_t alpha_threshold = 51;

constexpr std::int32_t arrow_width = 12;
constexpr std::int32_t arrow_height = 19;
// '#' dark outline, 'o' light fill, '.' transparent.
constexpr const char* arrow_rows[arrow_height] = {
    "##..........", "###.........", "#o##........", "#oo##.......", "#ooo##......",
    "#oooo##.....", "#ooooo##....", "#oooooo##...", "#ooooooo##..", "#oooooooo##.",
    "#ooooooooo##", "#oooooooooo#", "#oooooo#####", "#ooo#oo##...", "#oo###oo#...",
    "#o##.#oo##..", "###..##oo#..", "......#oo#..", ".......##...",
};

std::uint32_t load(const std::uint8_t* p)
{
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

void store(std::uint8_t* p, std::uint32_t v) { std::memcpy(p, &v, 4); }

// rows x row_units x unit bytes, negative counts taken as 0; a size past 32 bits cannot be held.
std::uint32_t byte_count(std::int32_t row_units, std::int32_t rows, std::uint32_t unit)
{
    std::uint64_t n = std::uint64_t(std::max(row_units, 0)) * std::uint64_t(std::max(rows, 0)) * unit;
    if (n > std::numeric_limits<std::uint32_t>::max()) {
        throw std::bad_alloc();
    }
    return static_cast<std::uint32_t>(n);
}

std::int32_t mask_row_bytes(std::int32_t width) { return (std::max(width, 0) + 7) / 8; }

}  // namespace

void cursor_shape::alloc()
{
    pixels.resize(byte_count(width, height, 4));
    mask.resize(byte_count(mask_row_bytes(width), height, 1));
}

void cursor_shape::from_masks(const std::uint8_t* and_plane, std::int32_t row_bytes)
{
    if (row_bytes < mask_row_bytes(width)) {
        throw vantor::internal_error(__LINE__);
    }
    alloc();
    const std::uint8_t* xor_plane = and_plane + static_cast<std::ptrdiff_t>(row_bytes) * height;
    bool inverting = false;
    std::uint8_t* out = pixels.data();
    for (std::int32_t y = 0; y < height; ++y) {
        const std::uint8_t* and_row = and_plane + static_cast<std::ptrdiff_t>(row_bytes) * y;
        const std::uint8_t* xor_row = xor_plane + static_cast<std::ptrdiff_t>(row_bytes) * y;
        for (std::int32_t x = 0; x < width; ++x) {
            const int bit = 7 - x % 8;
            const bool a = ((and_row[x / 8] >> bit) & 1) != 0;
            const bool v = ((xor_row[x / 8] >> bit) & 1) != 0;
            std::uint32_t pixel = 0;
            if (!a) {
                pixel = v ? opaque_white : opaque_black;
            } else if (v) {
                // Inverting pixels cannot be shown as such; they become black with an outline.
                pixel = opaque_black;
                inverting = true;
            }
            store(out + (static_cast<std::ptrdiff_t>(y) * width + x) * 4, pixel);
        }
    }
    if (inverting) {
        add_outline();
    }
}

void cursor_shape::add_outline()
{
    std::uint8_t* p = pixels.data();
    auto at = [&](std::int32_t x, std::int32_t y) {
        return load(p + (static_cast<std::ptrdiff_t>(y) * width + x) * 4);
    };
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            if (at(x, y) != 0) {
                continue;
            }
            // A pixel turned white is not black, so it never spreads the outline further.
            bool next_to_black = (y > 0 && at(x, y - 1) == opaque_black) ||
                                 (y + 1 < height && at(x, y + 1) == opaque_black) ||
                                 (x > 0 && at(x - 1, y) == opaque_black) ||
                                 (x + 1 < width && at(x + 1, y) == opaque_black);
            if (next_to_black) {
                store(p + (static_cast<std::ptrdiff_t>(y) * width + x) * 4, opaque_white);
            }
        }
    }
}

void cursor_shape::normalize(bool premultiply)
{
    if (width < 0) {
        width = 0;
    }
    if (height < 0) {
        height = 0;
    }
    if (pixels.size() < byte_count(width, height, 4)) {
        // The grabber fills the pixels after alloc; a shorter buffer is a caller's mistake.
        throw vantor::internal_error(__LINE__);
    }
    // The box must stay inside the image, so a hotspot outside it moves to the nearest pixel.
    if (width > 0 && height > 0) {
        hotspot_x = std::clamp(hotspot_x, 0, width - 1);
        hotspot_y = std::clamp(hotspot_y, 0, height - 1);
    }
    std::int32_t left = hotspot_x;
    std::int32_t top = hotspot_y;
    std::int32_t right = std::max(hotspot_x + 1, 0);
    std::int32_t bottom = std::max(hotspot_y + 1, 0);
    empty = true;

    std::uint8_t* p = pixels.data();
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            std::uint8_t* px = p + (static_cast<std::ptrdiff_t>(y) * width + x) * 4;
            const std::uint8_t alpha = px[3];
            if (alpha < alpha_threshold) {
                store(px, 0);
                continue;
            }
            left = std::min(left, x);
            top = std::min(top, y);
            right = std::max(right, x + 1);
            bottom = std::max(bottom, y + 1);
            empty = false;
            if (premultiply) {
                for (int c = 0; c < 3; ++c) {
                    px[c] = static_cast<std::uint8_t>((px[c] * alpha) >> 8);
                }
            }
            px[3] = 0xff;
        }
    }

    if (empty) {
        width = arrow_width;
        height = arrow_height;
        hotspot_x = 0;
        hotspot_y = 0;
        alloc();
        p = pixels.data();
        for (std::int32_t y = 0; y < arrow_height; ++y) {
            for (std::int32_t x = 0; x < arrow_width; ++x) {
                char c = arrow_rows[y][x];
                std::uint32_t v = c == '#' ? opaque_black : c == 'o' ? arrow_fill : 0;
                store(p + (static_cast<std::ptrdiff_t>(y) * arrow_width + x) * 4, v);
            }
        }
    } else {
        const std::int32_t new_width = right - left;
        const std::int32_t new_height = bottom - top;
        if (new_width != width || new_height != height || left != 0 || top != 0) {
            // Row j of the box moves to an address at or below its own, so the rows can be
            // moved in place from the first to the last.
            for (std::int32_t j = 0; j < new_height; ++j) {
                std::memmove(p + static_cast<std::ptrdiff_t>(j) * new_width * 4,
                             p + (static_cast<std::ptrdiff_t>(top + j) * width + left) * 4,
                             static_cast<std::size_t>(new_width) * 4);
            }
            width = new_width;
            height = new_height;
            hotspot_x -= left;
            hotspot_y -= top;
            // Shrinking keeps the block and its contents.
            pixels.resize(byte_count(width, height, 4));
        }
    }

    mask.resize(byte_count(mask_row_bytes(width), height, 1));
    std::uint8_t* m = mask.data();
    if (mask.size() != 0) {
        std::memset(m, 0, mask.size());
    }
    p = pixels.data();
    const std::int32_t row_bytes = mask_row_bytes(width);
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            if (load(p + (static_cast<std::ptrdiff_t>(y) * width + x) * 4) != 0) {
                m[static_cast<std::ptrdiff_t>(y) * row_bytes + x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
            }
        }
    }
}

}  // namespace kova
