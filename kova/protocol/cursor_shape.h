#pragma once
// `cursor_shape`: the mouse cursor in the one form the stream sends to the viewer: a 32-bit
// image whose pixels are fully opaque or fully transparent, cropped to its opaque part plus the
// hotspot, with a matching 1-bit mask. The grabbers fill it from a colour cursor with alpha or
// from a monochrome cursor's AND and XOR planes and then normalise it.
//
// Belongs to a grabber's cursor record and is used on the grabbing thread only; its buffers
// grow and are reused for every new cursor.
#include <cstdint>

#include "kova/protocol/mem_buf.h"

namespace kova {

struct cursor_shape {
    // Relative to the image's top-left corner.
    std::int32_t hotspot_x = 0;
    std::int32_t hotspot_y = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    // Set when the last normalisation found no opaque pixel (the image is then the built-in
    // arrow).
    bool empty = false;
    // width x height pixels of 4 bytes in memory order blue, green, red, alpha.
    mem_buf pixels;
    // height rows of (width + 7) / 8 bytes, most significant bit first, 1 = opaque.
    mem_buf mask;

    // Sizes the pixel buffer to width x height x 4 bytes and the mask to (width + 7) / 8 x
    // height bytes; contents are lost when a buffer grows. A negative width or height counts as
    // 0. Raises std::bad_alloc when the sizes cannot be held.
    void alloc();

    // Builds the pixels of a monochrome cursor of the current width and height from its AND
    // plane, directly followed by its XOR plane (height rows later), each row `row_bytes` long
    // (at least (width + 7) / 8). AND 0 gives opaque black (XOR 0) or white (XOR 1), AND 1 gives
    // transparent (XOR 0) or, for an inverting pixel (XOR 1), opaque black; a cursor with
    // inverting pixels gets a white outline. Does not normalise. Raises vantor::internal_error
    // when row_bytes is too short for the width.
    void from_masks(const std::uint8_t* and_plane, std::int32_t row_bytes);

    // Every transparent pixel (value 0) next to an opaque black one (0xFF000000) above, below,
    // left or right becomes opaque white, so that the cursor stays visible on a dark screen.
    void add_outline();

    // Makes pixels with alpha below 51 transparent and all others opaque (with premultiply, each
    // colour byte becomes c x alpha >> 8 first), crops the image to the box of its opaque pixels
    // and the hotspot, and rebuilds the mask. A hotspot outside the image is first moved to the
    // nearest pixel inside it. With no opaque pixel the image becomes the built-in arrow (12 x
    // 19, hotspot (0, 0)) and empty is set. Raises vantor::internal_error when the pixel buffer
    // is smaller than width x height pixels.
    void normalize(bool premultiply);
};

}  // namespace kova
