#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "kova/protocol/cursor_shape.h"
#include "vantor/core/exception.h"

namespace {

constexpr std::uint32_t black = 0xff000000;
constexpr std::uint32_t white = 0xffffffff;

std::uint32_t pixel(const kova::cursor_shape& s, int x, int y)
{
    std::uint32_t v;
    std::memcpy(&v, s.pixels.data() + (static_cast<std::size_t>(y) * s.width + x) * 4, 4);
    return v;
}

void set_pixel(kova::cursor_shape& s, int x, int y, std::uint32_t v)
{
    std::memcpy(s.pixels.data() + (static_cast<std::size_t>(y) * s.width + x) * 4, &v, 4);
}

bool mask_bit(const kova::cursor_shape& s, int x, int y)
{
    const int row = (s.width + 7) / 8;
    return ((s.mask.data()[y * row + x / 8] >> (7 - x % 8)) & 1) != 0;
}

// Makes s a transparent cursor of the given size with the hotspot given.
void blank(kova::cursor_shape& s, int w, int h, int hx, int hy)
{
    s.width = w;
    s.height = h;
    s.hotspot_x = hx;
    s.hotspot_y = hy;
    s.alloc();
    std::memset(s.pixels.data(), 0, s.pixels.size());
}

// Picture rows: '#' black, 'w' white, '.' transparent, anything else fails. After normalising,
// the mask must match the picture.
std::vector<std::string> picture(const kova::cursor_shape& s, bool with_mask)
{
    std::vector<std::string> rows;
    for (int y = 0; y < s.height; ++y) {
        std::string row;
        for (int x = 0; x < s.width; ++x) {
            std::uint32_t v = pixel(s, x, y);
            row += v == 0 ? '.' : v == black ? '#' : v == white ? 'w' : '?';
            if (with_mask) {
                EXPECT_EQ(mask_bit(s, x, y), v != 0) << x << "," << y;
            }
        }
        rows.push_back(row);
    }
    return rows;
}

TEST(cursor_shape, transparent_cursor_becomes_the_arrow)
{
    kova::cursor_shape s;
        blank(s, 32, 32, 7, 9);
    s.normalize(true);
    EXPECT_TRUE(s.empty);
    EXPECT_EQ(s.width, 12);
    EXPECT_EQ(s.height, 19);
    EXPECT_EQ(s.hotspot_x, 0);
    EXPECT_EQ(s.hotspot_y, 0);
    const char* arrow[19] = {
        "##..........", "###.........", "#o##........", "#oo##.......", "#ooo##......",
        "#oooo##.....", "#ooooo##....", "#oooooo##...", "#ooooooo##..", "#oooooooo##.",
        "#ooooooooo##", "#oooooooooo#", "#oooooo#####", "#ooo#oo##...", "#oo###oo#...",
        "#o##.#oo##..", "###..##oo#..", "......#oo#..", ".......##...",
    };
    for (int y = 0; y < 19; ++y) {
        for (int x = 0; x < 12; ++x) {
            SCOPED_TRACE(std::to_string(x) + "," + std::to_string(y));
            std::uint32_t v = pixel(s, x, y);
            EXPECT_EQ(mask_bit(s, x, y), arrow[y][x] != '.');
            if (arrow[y][x] == '.') {
                EXPECT_EQ(v, 0u);
            } else {
                EXPECT_EQ(v >> 24, 0xffu);
                // Outline dark, fill light.
                EXPECT_EQ((v & 0xff) < 0x40, arrow[y][x] == '#');
            }
        }
    }
    // A cursor of no size at all gets the arrow as well.
    kova::cursor_shape none;
    none.alloc();
    none.normalize(false);
    EXPECT_TRUE(none.empty);
    EXPECT_EQ(none.width, 12);
}

TEST(cursor_shape, alpha_threshold_and_premultiply)
{
    struct row {
        std::uint32_t in;
        bool premultiply;
        std::uint32_t out;
    };
    const row rows[] = {
        {0x32c8c8c8, false, 0},           // alpha 50: transparent
        {0x32c8c8c8, true, 0},            //
        {0x33c8c8c8, false, 0xffc8c8c8},  // alpha 51: opaque
        {0x80c8c8c8, true, 0xff646464},   // colour 200, alpha 128: 100
        {0x80c8c8c8, false, 0xffc8c8c8},  //
        {0xff0a141e, true, 0xff09131d},   // (c x 255) >> 8
    };
    for (const row& r : rows) {
        SCOPED_TRACE(std::to_string(r.in) + (r.premultiply ? " premultiplied" : ""));
        // The hotspot pixel stays in the box; an opaque neighbour keeps the cursor from the arrow.
        kova::cursor_shape s;
        blank(s, 2, 1, 0, 0);
        set_pixel(s, 0, 0, r.in);
        set_pixel(s, 1, 0, 0xff000001);
        s.normalize(r.premultiply);
        ASSERT_FALSE(s.empty);
        ASSERT_EQ(s.width, 2);
        EXPECT_EQ(pixel(s, 0, 0), r.out);
        EXPECT_EQ(mask_bit(s, 0, 0), r.out != 0);
    }
}

TEST(cursor_shape, crops_to_the_opaque_block_and_the_hotspot)
{
    struct row {
        int hx;
        int hy;
        int width;
        int height;
        int new_hx;
        int new_hy;
    };
    const row rows[] = {
        {5, 5, 10, 10, 0, 0},
        {0, 0, 15, 15, 0, 0},
        {20, 7, 16, 10, 15, 2},
        // A hotspot outside the image moves to the nearest pixel first.
        {-4, 40, 15, 27, 0, 26},
        {100, -3, 27, 15, 26, 0},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(std::to_string(r.hx) + "," + std::to_string(r.hy));
        kova::cursor_shape s;
        blank(s, 32, 32, r.hx, r.hy);
        for (int y = 5; y < 15; ++y) {
            for (int x = 5; x < 15; ++x) {
                set_pixel(s, x, y, 0xff000000u | static_cast<std::uint32_t>(y << 8 | x));
            }
        }
        s.normalize(false);
        ASSERT_FALSE(s.empty);
        ASSERT_EQ(s.width, r.width);
        ASSERT_EQ(s.height, r.height);
        EXPECT_EQ(s.hotspot_x, r.new_hx);
        EXPECT_EQ(s.hotspot_y, r.new_hy);
        EXPECT_EQ(s.mask.size(), static_cast<std::uint32_t>((r.width + 7) / 8 * r.height));
        // The block keeps its content at its place relative to the hotspot.
        const int dx = std::min(std::max(r.hx, 0), 31) - r.new_hx;
        const int dy = std::min(std::max(r.hy, 0), 31) - r.new_hy;
        for (int y = 0; y < s.height; ++y) {
            for (int x = 0; x < s.width; ++x) {
                const int ox = x + dx;
                const int oy = y + dy;
                const bool in_block = ox >= 5 && ox < 15 && oy >= 5 && oy < 15;
                const std::uint32_t want = in_block ? 0xff000000u | static_cast<std::uint32_t>(oy << 8 | ox) : 0;
                ASSERT_EQ(pixel(s, x, y), want) << x << "," << y;
                ASSERT_EQ(mask_bit(s, x, y), in_block) << x << "," << y;
            }
        }
    }
}

// AND plane then XOR plane, rows of row_bytes, from pictures of 'a' and 'x' bits.
std::vector<std::uint8_t> planes(const std::vector<std::string>& and_rows, const std::vector<std::string>& xor_rows,
                                 int row_bytes)
{
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(row_bytes) * and_rows.size() * 2, 0);
    auto put = [&](const std::vector<std::string>& rows, std::size_t base) {
        for (std::size_t y = 0; y < rows.size(); ++y) {
            for (std::size_t x = 0; x < rows[y].size(); ++x) {
                if (rows[y][x] == '1') {
                    bytes[base + y * row_bytes + x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
                }
            }
        }
    };
    put(and_rows, 0);
    put(xor_rows, static_cast<std::size_t>(row_bytes) * and_rows.size());
    return bytes;
}

TEST(cursor_shape, monochrome_planes)
{
    // The four combinations of AND and XOR bits, on widths that are not multiples of 8 and rows
    // padded to 4 bytes. Only a cursor with an inverting pixel gets the outline.
    struct row {
        const char* label;
        std::vector<std::string> and_rows;
        std::vector<std::string> xor_rows;
        std::vector<std::string> expected;
    };
    const row rows[] = {
        {"plain", {"0010", "1111"}, {"0100", "0000"}, {"#w.#", "...."}},
        {"inverting",
         {"0011111111", "1111111111"},
         {"0101000000", "0000000000"},
         {"#ww#w.....", "w..w......"}},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.label);
        std::vector<std::uint8_t> bytes = planes(r.and_rows, r.xor_rows, 4);
        kova::cursor_shape s;
        s.width = static_cast<std::int32_t>(r.and_rows[0].size());
        s.height = static_cast<std::int32_t>(r.and_rows.size());
        s.from_masks(bytes.data(), 4);
        EXPECT_EQ(picture(s, false), r.expected);
    }
}

TEST(cursor_shape, inverting_cursor_gets_a_white_outline)
{
    const std::vector<std::string> and_rows(6, "111111");
    const std::vector<std::string> xor_rows = {"000000", "000000", "001100", "001100", "000000", "000000"};
    std::vector<std::uint8_t> bytes = planes(and_rows, xor_rows, 2);
    kova::cursor_shape s;
    s.width = 6;
    s.height = 6;
    s.hotspot_x = 2;
    s.hotspot_y = 2;
    s.from_masks(bytes.data(), 2);
    s.normalize(false);
    EXPECT_FALSE(s.empty);
    EXPECT_EQ(s.hotspot_x, 1);
    EXPECT_EQ(s.hotspot_y, 1);
    const std::vector<std::string> expected = {
        ".ww.",
        "w##w",
        "w##w",
        ".ww.",
    };
    EXPECT_EQ(picture(s, true), expected);
}

TEST(cursor_shape, outline_does_not_spread_from_new_white_pixels)
{
    kova::cursor_shape s;
        blank(s, 5, 1, 0, 0);
    set_pixel(s, 0, 0, black);
    s.add_outline();
    EXPECT_EQ(pixel(s, 1, 0), white);
    EXPECT_EQ(pixel(s, 2, 0), 0u);
}

TEST(cursor_shape, caller_mistakes_raise_instead_of_overrunning)
{
    // Plane rows shorter than a row of pixels, and a pixel buffer smaller than the size claims.
    std::vector<std::uint8_t> bytes(64, 0);
    kova::cursor_shape s;
    s.width = 20;
    s.height = 2;
    EXPECT_THROW(s.from_masks(bytes.data(), 2), vantor::exception);
    s.width = 4;
    s.alloc();
    s.width = 40;
    EXPECT_THROW(s.normalize(false), vantor::exception);
}

}  // namespace
