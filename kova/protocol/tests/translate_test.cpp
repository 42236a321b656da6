#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <variant>
#include <vector>

#include "kova/protocol/colour_cube.h"
#include "kova/protocol/pixel_format.h"
#include "kova/protocol/translate.h"
#include "kova/protocol/translate_functions.h"
#include "vantor/core/exception.h"
#include "vantor/core/log.h"

namespace {

using kova::pixel_format;

pixel_format make_format(int bpp, int depth, bool big_endian, bool true_colour, std::uint32_t rm, std::uint32_t gm,
                         std::uint32_t bm, std::uint32_t rs, std::uint32_t gs, std::uint32_t bs)
{
    pixel_format f;
    f.set(bpp, depth, big_endian, true_colour, rm, gm, bm, rs, gs, bs);
    return f;
}

struct named_format {
    const char* name;
    pixel_format format;
};

// The formats every pair of which is translated below: the usual ones, both byte orders, odd
// maxima and the 8-bit colour-mapped format.
const std::vector<named_format>& formats()
{
    static const std::vector<named_format> list = {
        {"bgr32", make_format(32, 24, false, true, 255, 255, 255, 16, 8, 0)},
        {"rgb32", make_format(32, 24, false, true, 255, 255, 255, 0, 8, 16)},
        {"bgr32_be", make_format(32, 24, true, true, 255, 255, 255, 16, 8, 0)},
        {"x10_32", make_format(32, 30, false, true, 1023, 1023, 1023, 20, 10, 0)},
        {"odd32", make_format(32, 24, false, true, 100, 200, 50, 0, 8, 16)},
        {"rgb565", make_format(16, 16, false, true, 31, 63, 31, 11, 5, 0)},
        {"rgb555", make_format(16, 15, false, true, 31, 31, 31, 10, 5, 0)},
        {"rgb565_be", make_format(16, 16, true, true, 31, 63, 31, 11, 5, 0)},
        {"rgb444", make_format(16, 12, false, true, 15, 15, 15, 8, 4, 0)},
        {"bgr233", make_format(8, 8, false, true, 7, 7, 3, 0, 3, 6)},
        {"bgr233_be_flag", make_format(8, 8, true, true, 7, 7, 3, 0, 3, 6)},
        {"map8", make_format(8, 8, false, false, 0, 0, 0, 0, 0, 0)},
    };
    return list;
}

// A source colour map with distinct colours per index, some at full and zero intensity.
class test_map : public kova::ColorMap {
public:
    void lookup(std::uint32_t index, std::uint32_t& red, std::uint32_t& green, std::uint32_t& blue) const override
    {
        if (index > 255) {
            return;
        }
        red = index * 257;
        green = (255 - index) * 257;
        blue = ((index * 37) % 256) * 255 + (index % 3);
    }
};

std::uint32_t bytes_of(const pixel_format& f) { return static_cast<std::uint32_t>(f.bpp / 8); }

std::uint32_t load(const unsigned char* p, std::uint32_t bytes)
{
    std::uint32_t v = 0;
    std::memcpy(&v, p, bytes);
    return v;
}

void store(unsigned char* p, std::uint32_t v, std::uint32_t bytes) { std::memcpy(p, &v, bytes); }

std::uint32_t byte_swap(std::uint32_t v, std::uint32_t bytes)
{
    if (bytes == 2) {
        return ((v & 0xff) << 8) | ((v >> 8) & 0xff);
    }
    if (bytes == 4) {
        return ((v & 0xff) << 24) | ((v & 0xff00) << 8) | ((v >> 8) & 0xff00) | (v >> 24);
    }
    return v;
}

// The colour rules evaluated pixel by pixel, without tables.
std::uint32_t scale_component(std::uint32_t v, std::uint32_t from_max, std::uint32_t to_max)
{
    return static_cast<std::uint32_t>((std::uint64_t{v} * to_max + from_max / 2) / from_max);
}

std::uint32_t scale_intensity(std::uint32_t i, std::uint32_t to_max)
{
    return static_cast<std::uint32_t>((std::uint64_t{i} * to_max + 0x7fff) / 0xffff);
}

// The value a target pixel must hold, as stored in memory order, for source pixel p. `to_cube`
// targets the identity colour cube (levels 0 to 5 per colour).
std::uint32_t naive_pixel(const pixel_format& in, const kova::ColorMap* map, const pixel_format& out, bool to_cube,
                          std::uint32_t p)
{
    std::uint32_t levels[3];
    const std::uint32_t in_max[3] = {in.red_max, in.green_max, in.blue_max};
    const std::uint32_t in_shift[3] = {in.red_shift, in.green_shift, in.blue_shift};
    const std::uint32_t out_max[3] = {out.red_max, out.green_max, out.blue_max};
    const std::uint32_t out_shift[3] = {out.red_shift, out.green_shift, out.blue_shift};
    if (in.true_colour != 0) {
        for (int c = 0; c < 3; ++c) {
            std::uint32_t v = (p >> in_shift[c]) & in_max[c];
            levels[c] = scale_component(v, in_max[c], to_cube ? 5 : out_max[c]);
        }
    } else {
        std::uint32_t i[3] = {0, 0, 0};
        map->lookup(p, i[0], i[1], i[2]);
        for (int c = 0; c < 3; ++c) {
            levels[c] = scale_intensity(i[c], to_cube ? 5 : out_max[c]);
        }
    }
    if (to_cube) {
        return (levels[0] * 6 + levels[1]) * 6 + levels[2];
    }
    std::uint32_t v = 0;
    for (int c = 0; c < 3; ++c) {
        v |= levels[c] << out_shift[c];
    }
    const std::uint32_t bytes = bytes_of(out);
    if (bytes < 4) {
        v &= (std::uint32_t{1} << (8 * bytes)) - 1;
    }
    return out.big_endian != 0 ? byte_swap(v, bytes) : v;
}

// What the translator must produce for a pair: copies for equal formats and for colour-mapped to
// colour-mapped, the truncating converter for 32-bit BGR to RGB565, the colour rules otherwise.
std::uint32_t expected_pixel(const pixel_format& in, const kova::ColorMap* map, const pixel_format& out,
                             std::uint32_t p)
{
    if (in.equals(out) || (in.true_colour == 0 && out.true_colour == 0)) {
        return p;
    }
    if (in.equals(formats()[0].format) && out.equals(formats()[5].format)) {
        return ((p >> 8) & 0xf800) | ((p >> 5) & 0x07e0) | ((p >> 3) & 0x001f);
    }
    return naive_pixel(in, map, out, out.true_colour == 0, p);
}

// Source pixels: every value for 8 and 16 bits, a spread of values (with the extremes) for 32.
std::vector<std::uint32_t> source_values(const pixel_format& in)
{
    std::vector<std::uint32_t> values;
    if (in.bpp <= 16) {
        for (std::uint32_t v = 0; v < (std::uint32_t{1} << in.bpp); ++v) {
            values.push_back(v);
        }
        return values;
    }
    values = {0, 0xffffffff, 0x00ffffff, 0x00ff0000, 0x0000ff00, 0x000000ff, 0x80808080, 0x7f7f7f7f};
    std::uint32_t seed = 12345;
    while (values.size() < 4096) {
        seed = seed * 1103515245u + 12345u;
        values.push_back(seed ^ (seed >> 15));
    }
    return values;
}

struct frame {
    std::int32_t width;
    std::int32_t height;
    std::int32_t stride;  // bytes
    std::vector<unsigned char> bytes;
};

// A frame holding the values in rows of 64, each row padded by three pixels.
frame make_source(const pixel_format& in, const std::vector<std::uint32_t>& values)
{
    const std::uint32_t b = bytes_of(in);
    frame f{64, static_cast<std::int32_t>((values.size() + 63) / 64), 0, {}};
    f.stride = static_cast<std::int32_t>((64 + 3) * b);
    f.bytes.assign(static_cast<std::size_t>(f.stride) * f.height, 0);
    for (std::size_t i = 0; i < values.size(); ++i) {
        store(&f.bytes[(i / 64) * f.stride + (i % 64) * b], values[i], b);
    }
    return f;
}

std::string refusal(const std::function<void()>& call)
{
    try {
        call();
    } catch (const vantor::exception& e) {
        return e.what();
    }
    return "";
}

// Collects the log lines written while it lives.
class log_capture {
public:
    log_capture() { vantor::set_log_line_observer(&log_capture::observe, this); }
    ~log_capture() { vantor::set_log_line_observer(nullptr, nullptr); }
    int count_containing(const std::string& text) const
    {
        int n = 0;
        for (const std::string& line : lines_) {
            n += line.find(text) != std::string::npos ? 1 : 0;
        }
        return n;
    }

private:
    static void observe(const char* text, std::size_t length, void* context)
    {
        static_cast<log_capture*>(context)->lines_.emplace_back(text, length);
    }
    std::vector<std::string> lines_;
};

TEST(translate_pairs, every_pair_matches_the_colour_rules)
{
    const test_map map;
    for (const named_format& in : formats()) {
        const std::vector<std::uint32_t> values = source_values(in.format);
        const frame source = make_source(in.format, values);
        for (const named_format& out : formats()) {
            SCOPED_TRACE(std::string(in.name) + " -> " + out.name);
            kova::pixel_translator t;
            const bool endian_refused = in.format.bpp != 8 && in.format.big_endian != 0 && !in.format.equals(out.format);
            std::string error = refusal([&] { t.set_formats(in.format, &map, out.format); });
            if (endian_refused) {
                EXPECT_EQ(error, "invalid endian format");
                EXPECT_FALSE(t.ready());
                continue;
            }
            ASSERT_EQ(error, "");
            ASSERT_TRUE(t.ready());

            const std::uint32_t ob = bytes_of(out.format);
            const std::int32_t target_stride = static_cast<std::int32_t>((source.width + 5) * ob);
            std::vector<unsigned char> target(static_cast<std::size_t>(target_stride) * source.height, 0xcd);
            t.translate_rect(source.bytes.data(), source.stride, {0, 0, source.width, source.height}, target.data(),
                             target_stride);
            int mismatches = 0;
            for (std::size_t i = 0; i < values.size() && mismatches < 5; ++i) {
                std::uint32_t got = load(&target[(i / 64) * target_stride + (i % 64) * ob], ob);
                std::uint32_t want = expected_pixel(in.format, &map, out.format, values[i]);
                if (got != want) {
                    ++mismatches;
                    ADD_FAILURE() << "source 0x" << std::hex << values[i] << " gives 0x" << got << ", expected 0x"
                                  << want;
                }
            }
            // The padding between rows stays untouched.
            EXPECT_EQ(target[static_cast<std::size_t>(source.width) * ob], 0xcd);
        }
    }
}

TEST(translate_pairs, colour_mapped_targets_announce_their_palette)
{
    const test_map map;
    const kova::ColorCube cube;
    const pixel_format map8 = formats().back().format;
    for (const named_format& in : formats()) {
        if (in.format.bpp != 8 && in.format.big_endian != 0) {
            continue;
        }
        SCOPED_TRACE(in.name);
        kova::pixel_translator t;
        t.set_formats(in.format, &map, map8);
        ASSERT_NE(t.palette(), nullptr);
        const kova::proto::colour_map_entries& palette = *t.palette();
        EXPECT_EQ(palette.first, 0);
        const kova::ColorMap& source = in.format.true_colour != 0 ? static_cast<const kova::ColorMap&>(cube) : map;
        ASSERT_EQ(palette.colours.size(), in.format.true_colour != 0 ? 216u : 256u);
        for (std::uint32_t i = 0; i < palette.colours.size(); ++i) {
            std::uint32_t r = 0;
            std::uint32_t g = 0;
            std::uint32_t b = 0;
            source.lookup(i, r, g, b);
            EXPECT_EQ(palette.colours[i], (kova::proto::colour{std::uint16_t(r), std::uint16_t(g), std::uint16_t(b)}))
                << "entry " << i;
        }
        if (in.format.true_colour != 0) {
            EXPECT_EQ(palette.colours[215], (kova::proto::colour{65535, 65535, 65535}));
        }
    }
    // True-colour targets announce nothing.
    kova::pixel_translator t;
    t.set_formats(formats()[0].format, nullptr, formats()[5].format);
    EXPECT_EQ(t.palette(), nullptr);
}

TEST(translate_pairs, bgr32_to_rgb565_takes_the_fast_path)
{
    // Lines of earlier tests may still be on their way to the writer.
    vantor::log_flush();
    log_capture log;
    kova::pixel_translator t;
    t.set_formats(formats()[0].format, nullptr, formats()[5].format);
    vantor::log_flush();
    EXPECT_EQ(log.count_containing("translate: optimizing bgr32=>bgr565"), 1);

    // Widths and target offsets that exercise the single pixels before the aligned blocks,
    // the blocks of eight and the rest.
    std::uint32_t seed = 99;
    for (std::int32_t w : {1, 7, 8, 9, 15, 16, 17, 33}) {
        for (std::size_t offset = 0; offset < 8; ++offset) {
            SCOPED_TRACE("w " + std::to_string(w) + " offset " + std::to_string(offset));
            std::vector<std::uint32_t> source(static_cast<std::size_t>(w) * 2);
            for (std::uint32_t& v : source) {
                seed = seed * 1103515245u + 12345u;
                v = seed;
            }
            source[0] = 0x00ff8040;  // red 255, green 128, blue 64
            alignas(16) std::uint16_t target[2 * (33 + 8 + 4)] = {};
            std::uint16_t* dst = target + offset;
            t.translate_rect(source.data(), w * 4, {0, 0, w, 2}, dst, (w + 4) * 2);
            EXPECT_EQ(dst[0], 0xfc08);
            for (std::int32_t y = 0; y < 2; ++y) {
                for (std::int32_t x = 0; x < w; ++x) {
                    std::uint32_t p = source[static_cast<std::size_t>(y * w + x)];
                    ASSERT_EQ(dst[y * (w + 4) + x], expected_pixel(formats()[0].format, nullptr, formats()[5].format, p))
                        << x << "," << y;
                }
                EXPECT_EQ(dst[y * (w + 4) + w], 0);
            }
        }
    }
}

TEST(translate_pairs, refusals)
{
    const test_map map;
    const pixel_format bgr32 = formats()[0].format;
    const pixel_format map8 = formats().back().format;
    struct row {
        const char* label;
        pixel_format in;
        const kova::ColorMap* map;
        pixel_format out;
        const char* error;
    };
    const row rows[] = {
        {"24 bpp target", bgr32, nullptr, make_format(24, 24, false, true, 255, 255, 255, 16, 8, 0),
         "custom bpp not supported"},
        {"24 bpp source", make_format(24, 24, false, true, 255, 255, 255, 16, 8, 0), nullptr, bgr32,
         "custom bpp not supported"},
        {"16-bit colour-mapped source", make_format(16, 16, false, false, 0, 0, 0, 0, 0, 0), &map, bgr32,
         "inPF has colorMap but not 8bpp"},
        {"16-bit colour-mapped source to map", make_format(16, 16, false, false, 0, 0, 0, 0, 0, 0), &map, map8,
         "in has colorMap but not 8bpp"},
        {"16-bit colour-mapped target", bgr32, nullptr, make_format(16, 16, false, false, 0, 0, 0, 0, 0, 0),
         "out has color map but not 8bpp"},
        {"big-endian 16-bit source", formats()[7].format, nullptr, bgr32, "invalid endian format"},
        {"colour-mapped source without map", map8, nullptr, bgr32, "missing colour map"},
        // Formats a viewer may send that would divide by zero or shift past the pixel.
        {"target maximum 0", bgr32, nullptr, make_format(32, 24, false, true, 0, 255, 255, 16, 8, 0),
         "invalid pixel format"},
        {"target shift 40", bgr32, nullptr, make_format(32, 24, false, true, 255, 255, 255, 40, 8, 0),
         "invalid pixel format"},
        {"target channel past 16 bits", bgr32, nullptr, make_format(16, 16, false, true, 31, 63, 31, 12, 5, 0),
         "invalid pixel format"},
        {"target maximum past 8 bits", bgr32, nullptr, make_format(8, 8, false, true, 65535, 7, 3, 0, 3, 6),
         "invalid pixel format"},
        {"source maximum 0", make_format(16, 16, false, true, 31, 0, 31, 11, 5, 0), nullptr, bgr32,
         "invalid pixel format"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.label);
        kova::pixel_translator t;
        t.set_formats(bgr32, nullptr, formats()[1].format);
        ASSERT_TRUE(t.ready());
        EXPECT_EQ(refusal([&] { t.set_formats(r.in, r.map, r.out); }), r.error);
        EXPECT_FALSE(t.ready());
        EXPECT_EQ(t.palette(), nullptr);
        std::uint32_t pixel = 0;
        std::uint32_t out = 0;
        EXPECT_EQ(refusal([&] { t.translate_rect(&pixel, 4, {0, 0, 1, 1}, &out, 4); }).rfind(":Error in line ", 0),
                  0u);
        // A later valid selection works again.
        t.set_formats(bgr32, nullptr, formats()[1].format);
        pixel = 0x00112233;
        t.translate_rect(&pixel, 4, {0, 0, 1, 1}, &out, 4);
        EXPECT_EQ(out, 0x00332211u);
    }
}

TEST(translate_rect, offsets_strides_and_empty_sizes)
{
    // A 5 x 4 frame of 16-bit pixels, each holding 16 x y + x; rows padded to 12 pixels.
    const pixel_format rgb565 = formats()[5].format;
    const pixel_format bgr32 = formats()[0].format;
    std::vector<std::uint16_t> source(12 * 4);
    for (std::uint16_t y = 0; y < 4; ++y) {
        for (std::uint16_t x = 0; x < 5; ++x) {
            source[y * 12u + x] = static_cast<std::uint16_t>(16 * y + x);
        }
    }
    kova::pixel_translator t;
    t.set_formats(rgb565, nullptr, bgr32);
    std::vector<std::uint32_t> target(3 * 6, 0xdeadbeef);
    t.translate_rect(source.data(), 24, {2, 1, 3, 2}, target.data(), 6 * 4);
    for (std::uint32_t y = 0; y < 3; ++y) {
        for (std::uint32_t x = 0; x < 6; ++x) {
            std::uint32_t want = 0xdeadbeef;
            if (y < 2 && x < 3) {
                want = naive_pixel(rgb565, nullptr, bgr32, false, 16 * (y + 1) + x + 2);
            }
            EXPECT_EQ(target[y * 6 + x], want) << x << "," << y;
        }
    }

    // A width or height of 0 writes nothing, for every kind of loop.
    const pixel_format targets[] = {bgr32, formats()[5].format, formats()[1].format, formats().back().format};
    for (const pixel_format& out : targets) {
        t.set_formats(bgr32, nullptr, out);
        std::vector<std::uint32_t> pixels(8, 0x01020304);
        std::vector<std::uint32_t> untouched(8, 0xdeadbeef);
        t.translate_rect(pixels.data(), 16, {0, 0, 0, 2}, untouched.data(), 16);
        t.translate_rect(pixels.data(), 16, {0, 0, 4, 0}, untouched.data(), 16);
        EXPECT_EQ(untouched, std::vector<std::uint32_t>(8, 0xdeadbeef));
    }
}

TEST(translate_block, rows_as_wide_as_the_target_stride)
{
    const pixel_format bgr32 = formats()[0].format;
    const pixel_format rgb32 = formats()[1].format;
    kova::pixel_translator t;
    t.set_formats(bgr32, nullptr, rgb32);
    // Ten pixels in rows of four: two whole rows and a last row of two, which is converted too.
    std::vector<std::uint32_t> source(12);
    for (std::uint32_t i = 0; i < 12; ++i) {
        source[i] = 0x00010203u * (i + 1);
    }
    std::vector<std::uint32_t> target(12, 0xdeadbeef);
    t.translate_block(source.data(), 16, target.data(), 16, 10);
    for (std::uint32_t i = 0; i < 12; ++i) {
        std::uint32_t want = i < 10 ? naive_pixel(bgr32, nullptr, rgb32, false, source[i]) : 0xdeadbeef;
        EXPECT_EQ(target[i], want) << i;
    }
    // The encoder's name for the same operation; a target stride below one pixel writes nothing.
    std::fill(target.begin(), target.end(), 0xdeadbeef);
    t.translate(source.data(), 16, target.data(), 2, 10);
    t.translate(source.data(), 16, target.data(), 0, 10);
    EXPECT_EQ(target, std::vector<std::uint32_t>(12, 0xdeadbeef));
}

TEST(translate_colour_map, a_new_source_map_rebuilds_table_or_palette)
{
    class grey_map : public kova::ColorMap {
    public:
        void lookup(std::uint32_t index, std::uint32_t& red, std::uint32_t& green,
                    std::uint32_t& blue) const override
        {
            red = green = blue = index * 257;
        }
    };
    const test_map first;
    const grey_map second;
    const pixel_format map8 = formats().back().format;
    const pixel_format bgr32 = formats()[0].format;

    kova::pixel_translator to_true_colour;
    to_true_colour.setup(map8, &first, bgr32);
    std::uint8_t index = 200;
    std::uint32_t out = 0;
    to_true_colour.translate(&index, 1, {0, 0, 1, 1}, &out, 4);
    EXPECT_EQ(out, naive_pixel(map8, &first, bgr32, false, 200));
    to_true_colour.set_colour_map(second);
    to_true_colour.translate(&index, 1, {0, 0, 1, 1}, &out, 4);
    EXPECT_EQ(out, 0x00c8c8c8u);
    EXPECT_EQ(to_true_colour.palette(), nullptr);

    kova::pixel_translator to_map;
    to_map.set_formats(map8, &first, map8);
    ASSERT_NE(to_map.palette(), nullptr);
    to_map.set_colour_map(second);
    ASSERT_NE(to_map.palette(), nullptr);
    ASSERT_EQ(to_map.palette()->colours.size(), 256u);
    EXPECT_EQ(to_map.palette()->colours[200], (kova::proto::colour{200 * 257, 200 * 257, 200 * 257}));

    // A true-colour source has no map to follow: only the palette is dropped.
    kova::pixel_translator cube;
    cube.set_formats(bgr32, nullptr, map8);
    ASSERT_NE(cube.palette(), nullptr);
    cube.set_colour_map(second);
    EXPECT_EQ(cube.palette(), nullptr);
    EXPECT_TRUE(cube.ready());
}

// Runs the builder at `index` with the arguments its shape takes.
void run_builder(std::size_t index, kova::translation_table& table, const pixel_format& in, const kova::ColorMap* map,
                 const kova::ColorCube& cube, const pixel_format& out)
{
    const kova::translate_function& f = kova::translate_functions[index];
    if (auto* b = std::get_if<kova::table_builder>(&f)) {
        (*b)(table, in, out);
    } else if (auto* c = std::get_if<kova::cube_table_builder>(&f)) {
        (*c)(table, in, cube);
    } else if (auto* m = std::get_if<kova::map_table_builder>(&f)) {
        (*m)(table, in, *map, out);
    } else if (auto* mc = std::get_if<kova::map_cube_table_builder>(&f)) {
        (*mc)(table, in, *map, cube);
    } else {
        FAIL() << "entry " << index << " is not a builder";
    }
}

TEST(translate_functions, every_member_at_every_width_matches_the_colour_rules)
{
    const test_map map;
    const kova::ColorCube cube;
    const pixel_format bgr32 = formats()[0].format;
    const pixel_format rgb32 = formats()[1].format;
    const pixel_format bgr32_be = formats()[2].format;
    const pixel_format x10 = formats()[3].format;
    const pixel_format rgb565 = formats()[5].format;
    const pixel_format rgb555 = formats()[6].format;
    const pixel_format rgb565_be = formats()[7].format;
    const pixel_format bgr233 = formats()[9].format;
    const pixel_format map8 = formats().back().format;
    // Cube targets: only the width of these formats matters.
    const pixel_format width8 = bgr233;
    const pixel_format width16 = rgb565;
    const pixel_format width32 = bgr32;
    struct row {
        const char* label;
        std::size_t builder;
        std::size_t loop;
        pixel_format in;
        pixel_format out;
        bool to_cube;
    };
    const row rows[] = {
        {"component tables 32 to 8", 0, 24, bgr32, bgr233, false},
        {"component tables 32 to 16 big-endian", 1, 25, x10, rgb565_be, false},
        {"component tables 32 to 32 big-endian", 2, 26, bgr32, bgr32_be, false},
        {"component tables 16 to 8", 0, 21, rgb565, bgr233, false},
        {"component tables 16 to 16", 1, 22, rgb565, rgb555, false},
        {"component tables 16 to 32", 2, 23, rgb565, rgb32, false},
        {"single table 8 to 8", 3, 15, bgr233, formats()[10].format, false},
        {"single table 8 to 16 big-endian", 4, 16, bgr233, rgb565_be, false},
        {"single table 8 to 32 big-endian", 5, 17, bgr233, bgr32_be, false},
        {"single table 16 to 8", 3, 18, rgb555, bgr233, false},
        {"single table 16 to 16 big-endian", 4, 19, rgb565, rgb565_be, false},
        {"single table 16 to 32", 5, 20, rgb565, x10, false},
        {"single cube table 8 to 8", 12, 15, bgr233, width8, true},
        {"single cube table 8 to 16", 13, 16, bgr233, width16, true},
        {"single cube table 16 to 32", 14, 20, rgb565, width32, true},
        {"cube component tables 16 to 8", 27, 6, rgb565, width8, true},
        {"cube component tables 16 to 16", 28, 7, rgb555, width16, true},
        {"cube component tables 16 to 32", 29, 8, rgb565, width32, true},
        {"cube component tables 32 to 8", 27, 9, bgr32, width8, true},
        {"cube component tables 32 to 16", 28, 10, x10, width16, true},
        {"cube component tables 32 to 32", 29, 11, rgb32, width32, true},
        {"map table to 8", 30, 15, map8, bgr233, false},
        {"map table to 16 big-endian", 31, 16, map8, rgb565_be, false},
        {"map table to 32 big-endian", 32, 17, map8, bgr32_be, false},
        {"map cube table to 8", 33, 15, map8, width8, true},
        {"map cube table to 16", 34, 16, map8, width16, true},
        {"map cube table to 32", 35, 17, map8, width32, true},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.label);
        kova::translation_table table;
        run_builder(r.builder, table, r.in, &map, cube, r.out);
        ASSERT_NE(table, nullptr);
        const auto* loop = std::get_if<kova::translate_loop>(&kova::translate_functions[r.loop]);
        ASSERT_NE(loop, nullptr);

        const std::vector<std::uint32_t> values = source_values(r.in);
        const frame source = make_source(r.in, values);
        const std::uint32_t ob = bytes_of(r.out);
        const std::int32_t target_stride = source.width + 2;
        std::vector<unsigned char> target(static_cast<std::size_t>(target_stride) * ob * source.height, 0xcd);
        (*loop)(table.get(), r.in, source.bytes.data(), source.stride / static_cast<std::int32_t>(bytes_of(r.in)),
                r.out, target.data(), target_stride, {source.width, source.height});
        int mismatches = 0;
        for (std::size_t i = 0; i < values.size() && mismatches < 5; ++i) {
            std::uint32_t got = load(&target[((i / 64) * target_stride + i % 64) * ob], ob);
            std::uint32_t want = naive_pixel(r.in, &map, r.out, r.to_cube, values[i]);
            if (got != want) {
                ++mismatches;
                ADD_FAILURE() << "source 0x" << std::hex << values[i] << " gives 0x" << got << ", expected 0x" << want;
            }
        }
    }
}

TEST(translate_functions, component_scaling_and_cube_levels)
{
    struct row {
        std::uint32_t from_max;
        std::uint32_t to_max;
        std::uint32_t value;
        std::uint32_t expected;
    };
    const row scaling[] = {
        {31, 255, 31, 255}, {31, 255, 16, 132}, {31, 255, 1, 8},  {255, 31, 255, 31},
        {255, 31, 5, 1},    {255, 31, 4, 0},    {255, 31, 0, 0},  {65535, 65535, 65535, 65535},
        // Cube levels of 8-bit components.
        {255, 5, 25, 0},    {255, 5, 26, 1},    {255, 5, 76, 1},  {255, 5, 77, 2},
        {255, 5, 255, 5},
    };
    for (const row& r : scaling) {
        SCOPED_TRACE(std::to_string(r.from_max) + " -> " + std::to_string(r.to_max) + ": " + std::to_string(r.value));
        std::vector<std::uint32_t> wide(r.from_max + 1);
        kova::scale_component_table32(wide.data(), r.from_max, r.to_max, 0, false);
        EXPECT_EQ(wide[r.value], r.expected);
        std::vector<std::uint8_t> cube_levels(r.from_max + 1);
        if (r.to_max <= 5) {
            kova::cube_component_table8(cube_levels.data(), r.from_max, r.to_max, 36);
            EXPECT_EQ(cube_levels[r.value], 36 * r.expected);
        }
    }
}

TEST(translate_functions, target_byte_order)
{
    // 16-bit big-endian target, red max 31 at shift 11: pure red is 0xf800, stored swapped.
    std::uint16_t table16[256];
    kova::scale_component_table16(table16, 255, 31, 11, true);
    EXPECT_EQ(table16[255], 0x00f8);
    kova::scale_component_table16(table16, 255, 31, 11, false);
    EXPECT_EQ(table16[255], 0xf800);
    std::uint32_t table32[256];
    kova::scale_component_table32(table32, 255, 255, 16, true);
    EXPECT_EQ(table32[255], 0x0000ff00u);

    // An 8-bit target with the big-endian flag set is never swapped.
    pixel_format to8_be = formats()[10].format;
    kova::translation_table table;
    kova::init_rgb_tables_to8(table, formats()[0].format, to8_be);
    EXPECT_EQ(table[255], 7);  // the red table's last entry: 7 at shift 0
    kova::init_table_to8(table, formats()[9].format, to8_be);
    EXPECT_EQ(table[0xff], 0xff);
}

TEST(translate_functions, builders_refuse_before_they_release)
{
    const test_map map;
    const kova::ColorCube cube;
    pixel_format be16 = formats()[7].format;
    pixel_format be16_map = make_format(16, 16, true, false, 0, 0, 0, 0, 0, 0);
    pixel_format no_green = make_format(16, 16, false, true, 31, 0, 31, 11, 5, 0);
    const pixel_format bgr32 = formats()[0].format;
    for (std::size_t index : {0, 1, 2, 3, 4, 5, 12, 13, 14, 27, 28, 29, 30, 31, 32, 33, 34, 35}) {
        SCOPED_TRACE("entry " + std::to_string(index));
        const bool from_map = index >= 30;
        kova::translation_table table;
        run_builder(index, table, from_map ? formats().back().format : formats()[5].format, &map, cube, bgr32);
        const unsigned char* previous = table.get();
        ASSERT_NE(previous, nullptr);

        EXPECT_EQ(refusal([&] { run_builder(index, table, from_map ? be16_map : be16, &map, cube, bgr32); }),
                  "invalid endian format");
        EXPECT_EQ(table.get(), previous);
        if (!from_map) {
            EXPECT_EQ(refusal([&] { run_builder(index, table, no_green, &map, cube, bgr32); }), "invalid pixel format");
            EXPECT_EQ(table.get(), previous);
        }
        // The flag means nothing for 8-bit sources.
        pixel_format be8 = from_map ? formats().back().format : formats()[10].format;
        be8.big_endian = 1;
        EXPECT_EQ(refusal([&] { run_builder(index, table, be8, &map, cube, bgr32); }), "");
        EXPECT_NE(table, nullptr);
    }
    kova::check_source_endian(false);
    EXPECT_EQ(refusal([] { kova::check_source_endian(true); }), "invalid endian format");
}

TEST(translate_functions, map_intensities_past_16_bits_stay_in_range)
{
    class bright_map : public kova::ColorMap {
    public:
        void lookup(std::uint32_t, std::uint32_t& red, std::uint32_t& green, std::uint32_t& blue) const override
        {
            red = 0x1ffff;
            green = 0;
            blue = 0xffffffff;
        }
    };
    const bright_map map;
    const kova::ColorCube cube;
    const pixel_format map8 = formats().back().format;
    kova::translation_table table;
    kova::init_table_from_map_to16(table, map8, map, formats()[5].format);
    EXPECT_EQ(reinterpret_cast<const std::uint16_t*>(table.get())[7], 0xf81f);
    kova::init_table_from_map_cube_to8(table, map8, map, cube);
    EXPECT_EQ(table[7], 5 * 36 + 5);
}

TEST(translate_cube, lookup_and_entries)
{
    const kova::ColorCube cube;
    EXPECT_EQ(cube.red_levels(), 6);
    EXPECT_EQ(cube.green_levels(), 6);
    EXPECT_EQ(cube.blue_levels(), 6);
    for (std::uint32_t k = 0; k < 216; ++k) {
        ASSERT_EQ(cube.entries()[k], k);
    }
    struct row {
        std::uint32_t index;
        std::uint32_t red;
        std::uint32_t green;
        std::uint32_t blue;
    };
    const row rows[] = {
        {0, 0, 0, 0},
        {1, 0, 0, 13107},
        {6, 0, 13107, 0},
        {36, 13107, 0, 0},
        {2 * 36 + 3 * 6 + 4, 26214, 39321, 52428},
        {215, 65535, 65535, 65535},
        {216, 7, 8, 9},  // out of range: the outputs keep what they held
        {0xffffffff, 7, 8, 9},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.index);
        std::uint32_t red = 7;
        std::uint32_t green = 8;
        std::uint32_t blue = 9;
        cube.lookup(r.index, red, green, blue);
        EXPECT_EQ(red, r.red);
        EXPECT_EQ(green, r.green);
        EXPECT_EQ(blue, r.blue);
    }
}

}  // namespace
