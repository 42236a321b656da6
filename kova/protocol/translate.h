#pragma once
// `pixel_translator`: converts rectangles of frame pixels into the viewer's pixel format. For
// each pair of formats it chooses once between a plain row copy, a single lookup table indexed
// by the whole source pixel (8 and 16-bit sources), three per-colour tables (32-bit sources),
// the 6 x 6 x 6 colour cube for viewers that want 8-bit colour-mapped pixels, and an SSE2
// converter for 32-bit BGR to RGB565.
//
// The encoder owns two (frame and cursor image) and uses them on its executor only.
#include <cstdint>
#include <memory>

#include "kova/protocol/colour_cube.h"
#include "kova/protocol/pixel_format.h"
#include "kova/protocol/rect.h"
#include "kova/protocol/translate_functions.h"
#include "kova/protocol/wire_records.h"

namespace kova {

class pixel_translator {
public:
    // Both formats at the default, no translation chosen.
    pixel_translator();
    pixel_translator(const pixel_translator&) = delete;
    pixel_translator& operator=(const pixel_translator&) = delete;
    ~pixel_translator();

    // Stores both formats, drops the previous translation and palette and chooses anew. The
    // source's colour map is read only during the call and is needed for an 8-bit colour-mapped
    // source. Raises vantor::exception with "custom bpp not supported" (a bpp other than 8, 16
    // or 32), "invalid pixel format" (a true-colour maximum of 0 or a channel outside the
    // pixel), "invalid endian format" (a big-endian source wider than 8 bits that needs a
    // table), "inPF has colorMap but not 8bpp", "in has colorMap but not 8bpp", "out has color
    // map but not 8bpp" or "missing colour map" (an 8-bit colour-mapped source without a map
    // for a true-colour target); the translator then has no translation until a call succeeds.
    void set_formats(const pixel_format& in, const ColorMap* in_map, const pixel_format& out);
    // The encoder core's name for set_formats.
    void setup(const pixel_format& in, const ColorMap* in_map, const pixel_format& out)
    {
        set_formats(in, in_map, out);
    }

    // The source's colour map changed: drops the palette; for an 8-bit colour-mapped source
    // rebuilds the table (true-colour target) or the palette of 256 entries (colour-mapped
    // target). Does nothing more without a chosen translation.
    void set_colour_map(const ColorMap& map);

    // Fills the palette with the first `count` colours of `map` (at most 256), from index 0.
    void build_palette(const ColorMap& map, std::uint32_t count);

    // Converts rectangle r of the source (strides in bytes) to the target's top-left corner.
    // The rectangle must lie inside the source and fit the target; a rectangle of width or
    // height 0 writes nothing. Raises vantor::internal_error when no translation is chosen.
    void translate_rect(const void* source_base, std::int32_t source_stride, const vantor_abi::Rect& r,
                        void* target, std::int32_t target_stride) const;
    // Converts pixel_count pixels laid out in rows as wide as the target stride (in target
    // pixels); a last partial row is converted as well. A target stride below one pixel writes
    // nothing.
    void translate_block(const void* source, std::int32_t source_stride, void* target, std::int32_t target_stride,
                         std::int32_t pixel_count) const;
    // The encoder core's names for the two forms.
    void translate(const void* source_base, std::int32_t source_stride, const vantor_abi::Rect& r, void* target,
                   std::int32_t target_stride) const
    {
        translate_rect(source_base, source_stride, r, target, target_stride);
    }
    void translate(const void* source, std::int32_t source_stride, void* target, std::int32_t target_stride,
                   std::int32_t pixel_count) const
    {
        translate_block(source, source_stride, target, target_stride, pixel_count);
    }

    // Whether a translation is chosen.
    bool ready() const noexcept { return loop_ != nullptr; }
    const pixel_format& in_format() const noexcept { return in_; }
    const pixel_format& out_format() const noexcept { return out_; }
    // The colour map to announce to the viewer (SetColourMapEntries), or null.
    const proto::colour_map_entries* palette() const noexcept { return palette_.get(); }

private:
    pixel_format in_;
    pixel_format out_;
    translation_table table_;
    translate_loop loop_ = nullptr;
    std::unique_ptr<proto::colour_map_entries> palette_;
};

}  // namespace kova
