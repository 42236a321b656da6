#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "kova/protocol/pixel_copy.h"

namespace {

// The moved block must hold the source pixels as they were before the move, whatever the
// overlap; pixels outside the destination stay.
void check_move(int bpp, kova::Rect dest, kova::Point src)
{
    const int width = 12, height = 10, stride = width * bpp + 3;
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(stride) * height);
    for (std::size_t i = 0; i < buffer.size(); ++i) buffer[i] = static_cast<std::uint8_t>(i * 7 + 1);
    const std::vector<std::uint8_t> before = buffer;
    kova::copy_pixels_by_bpp(bpp, buffer.data(), stride, dest, src);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const bool inside = x >= dest.x && x < dest.x + dest.w && y >= dest.y && y < dest.y + dest.h;
            const int sx = inside ? src.x + x - dest.x : x, sy = inside ? src.y + y - dest.y : y;
            ASSERT_EQ(std::memcmp(&buffer[y * stride + x * bpp], &before[sy * stride + sx * bpp], bpp), 0)
                << "bpp " << bpp << " pixel " << x << "," << y;
        }
    }
}

}  // namespace

TEST(PixelCopy, OverlappingMovesKeepTheSourceAsItWas)
{
    struct move {
        kova::Rect dest;
        kova::Point src;
    };
    const move moves[] = {
        {{2, 3, 6, 5}, {2, 1}},  // source above: bottom-up
        {{2, 1, 6, 5}, {2, 3}},  // source below: top-down
        {{3, 2, 6, 4}, {1, 2}},  // same rows, moving right
        {{1, 2, 6, 4}, {3, 2}},  // same rows, moving left
        {{0, 0, 5, 5}, {6, 4}},  // apart
        {{4, 4, 0, 3}, {0, 0}},  // empty
    };
    for (int bpp : {1, 2, 4}) {
        for (const move& m : moves) check_move(bpp, m.dest, m.src);
    }
}

TEST(PixelCopy, MaskedCopyTakesSetBitsMostSignificantFirst)
{
    const int w = 10, h = 2;
    std::vector<std::uint32_t> dst(16 * 4, 0xAAAAAAAA), src(w * h);
    for (int i = 0; i < w * h; ++i) src[i] = 0x1000 + i;
    const std::uint8_t mask[] = {0x81, 0x40, 0xFF, 0x80};  // row 0: 0, 7, 9; row 1: 0-7, 8
    kova::copy_pixels_masked_32(reinterpret_cast<std::uint8_t*>(dst.data()), 16 * 4, {2, 1, w, h},
                                reinterpret_cast<const std::uint8_t*>(src.data()), w * 4, mask);
    for (int y = 0; y < h; ++y) {
        for (int j = 0; j < w; ++j) {
            const bool set = (mask[y * 2 + j / 8] & (0x80 >> (j % 8))) != 0;
            EXPECT_EQ(dst[(1 + y) * 16 + 2 + j], set ? src[y * w + j] : 0xAAAAAAAAu) << j << "," << y;
        }
    }
    EXPECT_EQ(dst[0], 0xAAAAAAAAu);
}

TEST(PixelCopy, BlendFollowsItsIntegerFormula)
{
    struct row {
        std::uint8_t src[4], dst[4], expected[4];
    };
    const row rows[] = {
        {{9, 9, 9, 0}, {255, 1, 128, 77}, {254, 0, 127, 77}},      // alpha 0: (c * 255) >> 8
        {{200, 100, 0, 255}, {0, 0, 0, 5}, {199, 99, 0, 5}},       // opaque: (s * 255) >> 8
        {{200, 100, 50, 128}, {100, 100, 100, 1}, {149, 99, 74, 1}},
    };
    for (const row& r : rows) {
        std::uint8_t dst[4];
        std::memcpy(dst, r.dst, 4);
        kova::blend_argb(dst, 4, {0, 0, 1, 1}, r.src, 4);
        EXPECT_EQ(std::vector<int>(dst, dst + 4), std::vector<int>(r.expected, r.expected + 4));
    }
}
