#include <gtest/gtest.h>

#include <cstdint>

#include "kova/protocol/pixel_format.h"

namespace {

using kova::pixel_format;

pixel_format make_format(int bpp, int depth, bool big_endian, bool true_colour, std::uint32_t rm, std::uint32_t gm,
                         std::uint32_t bm, std::uint32_t rs, std::uint32_t gs, std::uint32_t bs)
{
    pixel_format f;
    f.set(bpp, depth, big_endian, true_colour, rm, gm, bm, rs, gs, bs);
    return f;
}

TEST(pixel_format, default_and_set)
{
    const pixel_format d;
    EXPECT_EQ(d.bpp, 32);
    EXPECT_EQ(d.depth, 24);
    EXPECT_EQ(d.big_endian, 0);
    EXPECT_EQ(d.true_colour, 1);
    EXPECT_EQ(d.red_mask, 0xff0000u);
    EXPECT_EQ(d.green_mask, 0xff00u);
    EXPECT_EQ(d.blue_mask, 0xffu);
    EXPECT_EQ(d.red_half, 127u);
    EXPECT_TRUE(d.equals(make_format(32, 24, false, true, 255, 255, 255, 16, 8, 0)));

    // Maxima are 16-bit and shifts 8-bit values, as on the wire; half and mask follow.
    pixel_format f = make_format(16, 16, true, true, 0x1001f, 63, 31, 0x10b, 5, 0);
    EXPECT_EQ(f.red_max, 31u);
    EXPECT_EQ(f.red_shift, 11u);
    EXPECT_EQ(f.red_half, 15u);
    EXPECT_EQ(f.red_mask, 0xf800u);
    EXPECT_EQ(f.green_half, 31u);
    EXPECT_EQ(f.green_mask, 0x07e0u);
    EXPECT_EQ(f.blue_mask, 0x001fu);
    EXPECT_EQ(f.big_endian, 1);
    // A shift past the 32-bit mask leaves nothing of the channel in it.
    EXPECT_EQ(make_format(32, 24, false, true, 255, 255, 255, 40, 8, 0).red_mask, 0u);
}

TEST(pixel_format, equals_compares_the_wire_fields_only)
{
    const pixel_format base;
    struct row {
        const char* label;
        void (*change)(pixel_format&);
        bool equal;
    };
    const row rows[] = {
        {"mask", [](pixel_format& f) { f.red_mask = 1; }, true},
        {"half", [](pixel_format& f) { f.blue_half = 0; }, true},
        {"bpp", [](pixel_format& f) { f.bpp = 16; }, false},
        {"depth", [](pixel_format& f) { f.depth = 32; }, false},
        {"big-endian", [](pixel_format& f) { f.big_endian = 1; }, false},
        {"true colour", [](pixel_format& f) { f.true_colour = 0; }, false},
        {"red max", [](pixel_format& f) { f.red_max = 127; }, false},
        {"green shift", [](pixel_format& f) { f.green_shift = 9; }, false},
        {"blue max", [](pixel_format& f) { f.blue_max = 7; }, false},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.label);
        pixel_format changed = base;
        r.change(changed);
        EXPECT_EQ(base.equals(changed), r.equal);
        EXPECT_EQ(changed.equals(base), r.equal);
    }
}

TEST(pixel_format, colour_bytes_and_channel_fit)
{
    struct row {
        const char* label;
        pixel_format format;
        bool first3;
        bool last3;
        bool fits;
    };
    const row rows[] = {
        {"bgr32", make_format(32, 24, false, true, 255, 255, 255, 16, 8, 0), true, false, true},
        {"colours in the top bytes", make_format(32, 24, false, true, 255, 255, 255, 24, 16, 8), false, true, true},
        {"bgr32 big-endian", make_format(32, 24, true, true, 255, 255, 255, 16, 8, 0), false, true, true},
        {"top bytes big-endian", make_format(32, 24, true, true, 255, 255, 255, 24, 16, 8), true, false, true},
        {"all four bytes", make_format(32, 32, false, true, 1023, 1023, 1023, 22, 11, 0), false, false, true},
        {"16 bits", make_format(16, 16, false, true, 31, 63, 31, 11, 5, 0), false, false, true},
        {"colour-mapped", make_format(8, 8, false, false, 0, 0, 0, 0, 0, 0), false, false, true},
        {"8-bit true colour", make_format(8, 8, false, true, 7, 7, 3, 0, 3, 6), false, false, true},
        {"maximum 0", make_format(32, 24, false, true, 255, 0, 255, 16, 8, 0), true, false, false},
        {"shift past 32 bits", make_format(32, 24, false, true, 255, 255, 255, 200, 8, 0), false, false, false},
        {"channel past 16 bits", make_format(16, 16, false, true, 63, 63, 31, 11, 5, 0), false, false, false},
        {"channel past 8 bits", make_format(8, 8, false, true, 7, 7, 7, 0, 3, 6), false, false, false},
        {"24 bits per pixel", make_format(24, 24, false, true, 255, 255, 255, 16, 8, 0), false, false, true},
        {"bpp 0", make_format(0, 0, false, true, 1, 1, 1, 0, 0, 0), false, false, false},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.label);
        EXPECT_EQ(r.format.cpixel_first3(), r.first3);
        EXPECT_EQ(r.format.cpixel_last3(), r.last3);
        EXPECT_EQ(r.format.channels_fit(), r.fits);
    }
}

}  // namespace
