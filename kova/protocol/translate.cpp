#include "kova/protocol/translate.h"

#include <algorithm>
#include <variant>

#include "kova/protocol/wire_proto.h"
#include "vantor/core/exception.h"
#include "vantor/core/log.h"

namespace kova {
namespace {

const vantor::log_context logger{"translate"};

bool supported_bpp(std::int32_t bpp) { return bpp == 8 || bpp == 16 || bpp == 32; }

// The usual 32-bit desktop and the usual low-bandwidth viewer format, which get their own loop.
bool is_bgr32(const pixel_format& f)
{
    pixel_format bgr32;
    bgr32.set(32, 24, false, true, 255, 255, 255, 16, 8, 0);
    return f.equals(bgr32);
}

bool is_rgb565(const pixel_format& f)
{
    pixel_format rgb565;
    rgb565.set(16, 16, false, true, 31, 63, 31, 11, 5, 0);
    return f.equals(rgb565);
}

// Entries of the function table; a wrong index raises std::bad_variant_access instead of calling
// a function of another shape.
template <typename F>
F entry(std::int32_t index)
{
    return std::get<F>(translate_functions.at(static_cast<std::size_t>(index)));
}

}  // namespace

pixel_translator::pixel_translator() = default;
pixel_translator::~pixel_translator() = default;

void pixel_translator::set_formats(const pixel_format& in, const ColorMap* in_map, const pixel_format& out)
{
    in_ = in;
    out_ = out;
    loop_ = nullptr;
    palette_.reset();
    table_.reset();

    if (!supported_bpp(in.bpp) || !supported_bpp(out.bpp)) {
        throw vantor::exception("custom bpp not supported");
    }
    // The output format comes from the viewer: a maximum of 0 would divide by zero and a channel
    // outside the pixel would shift past the table entries' width.
    if (!in.channels_fit() || !out.channels_fit()) {
        throw vantor::exception("invalid pixel format");
    }
    const std::int32_t out_column = out.bpp / 16;

    if (out.true_colour != 0) {
        if (in.equals(out)) {
            loop_ = &translate_copy;
            return;
        }
        if (in.true_colour != 0) {
            if (in.bpp <= 16) {
                entry<table_builder>(3 + out_column)(table_, in, out);
                loop_ = entry<translate_loop>(15 + 3 * (in.bpp / 16) + out_column);
            } else if (is_bgr32(in) && is_rgb565(out)) {
                logger.write("optimizing bgr32=>bgr565");
                loop_ = &translate_bgr32_to_rgb565;
            } else {
                entry<table_builder>(out_column)(table_, in, out);
                loop_ = entry<translate_loop>(21 + 3 * (in.bpp / 32) + out_column);
            }
            return;
        }
        if (in.bpp != 8) {
            throw vantor::exception("inPF has colorMap but not 8bpp");
        }
        if (in_map == nullptr) {
            throw vantor::exception("missing colour map");
        }
        entry<map_table_builder>(30 + out_column)(table_, in, *in_map, out);
        loop_ = entry<translate_loop>(15 + out_column);
        return;
    }

    if (out.bpp != 8) {
        throw vantor::exception("out has color map but not 8bpp");
    }
    if (in.true_colour != 0) {
        // The cube only lends its entries and colours: the table keeps a copy and the palette
        // holds its colours, so it ends with this call.
        ColorCube cube;
        translate_loop loop = nullptr;
        if (in.bpp > 16) {
            entry<cube_table_builder>(27)(table_, in, cube);
            loop = entry<translate_loop>(6 + 3 * (in.bpp / 32));
        } else {
            entry<cube_table_builder>(12)(table_, in, cube);
            loop = entry<translate_loop>(15 + 3 * (in.bpp / 16));
        }
        build_palette(cube, colour_cube_size);
        loop_ = loop;
        return;
    }
    if (in.bpp != 8) {
        throw vantor::exception("in has colorMap but not 8bpp");
    }
    if (in_map != nullptr) {
        build_palette(*in_map, proto::colour_map_size);
    }
    loop_ = &translate_copy;
}

void pixel_translator::set_colour_map(const ColorMap& map)
{
    palette_.reset();
    if (in_.true_colour != 0 || loop_ == nullptr) {
        return;
    }
    if (out_.true_colour != 0) {
        // A failed rebuild leaves no table behind, so the translation goes with it.
        translate_loop loop = loop_;
        loop_ = nullptr;
        entry<map_table_builder>(30 + out_.bpp / 16)(table_, in_, map, out_);
        loop_ = loop;
        return;
    }
    build_palette(map, proto::colour_map_size);
}

void pixel_translator::build_palette(const ColorMap& map, std::uint32_t count)
{
    auto record = std::make_unique<proto::colour_map_entries>();
    record->first = 0;
    const std::uint32_t n = std::min(count, proto::colour_map_size);
    record->colours.reserve(n);
    for (std::uint32_t i = 0; i < n; ++i) {
        std::uint32_t r = 0;
        std::uint32_t g = 0;
        std::uint32_t b = 0;
        map.lookup(i, r, g, b);
        record->colours.push_back({static_cast<std::uint16_t>(std::min<std::uint32_t>(r, 0xffff)),
                                   static_cast<std::uint16_t>(std::min<std::uint32_t>(g, 0xffff)),
                                   static_cast<std::uint16_t>(std::min<std::uint32_t>(b, 0xffff))});
    }
    palette_ = std::move(record);
}

void pixel_translator::translate_rect(const void* source_base, std::int32_t source_stride, const vantor_abi::Rect& r,
                                      void* target, std::int32_t target_stride) const
{
    if (loop_ == nullptr) {
        throw vantor::internal_error(__LINE__);
    }
    const std::int32_t in_bytes = in_.bpp / 8;
    const std::int32_t out_bytes = out_.bpp / 8;
    const auto* source = static_cast<const unsigned char*>(source_base) +
                         static_cast<std::ptrdiff_t>(r.y) * source_stride + static_cast<std::ptrdiff_t>(r.x) * in_bytes;
    loop_(table_.get(), in_, source, source_stride / in_bytes, out_, target, target_stride / out_bytes,
          translate_size{r.w, r.h});
}

void pixel_translator::translate_block(const void* source, std::int32_t source_stride, void* target,
                                       std::int32_t target_stride, std::int32_t pixel_count) const
{
    if (loop_ == nullptr) {
        throw vantor::internal_error(__LINE__);
    }
    const std::int32_t in_bytes = in_.bpp / 8;
    const std::int32_t out_bytes = out_.bpp / 8;
    const std::int32_t width = target_stride / out_bytes;
    if (width <= 0 || pixel_count <= 0) {
        return;
    }
    const std::int32_t height = pixel_count / width;
    loop_(table_.get(), in_, source, source_stride / in_bytes, out_, target, width, translate_size{width, height});
    // Pixels past the last whole row are part of the block as well.
    const std::int32_t rest = pixel_count % width;
    if (rest != 0) {
        const auto* source_row = static_cast<const unsigned char*>(source) +
                                 static_cast<std::ptrdiff_t>(height) * source_stride;
        auto* target_row = static_cast<unsigned char*>(target) + static_cast<std::ptrdiff_t>(height) * target_stride;
        loop_(table_.get(), in_, source_row, source_stride / in_bytes, out_, target_row, width,
              translate_size{rest, 1});
    }
}

}  // namespace kova
