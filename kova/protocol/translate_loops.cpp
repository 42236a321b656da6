// The translation loops: rows of source pixels converted through a prepared table, the plain
// row copy and the SSE2 converter from 32-bit BGR to RGB565.
#include <emmintrin.h>

#include <cstring>

#include "kova/protocol/translate_functions.h"

namespace kova {
namespace {

template <typename S, typename T>
void single_table_loop(const void* table, const void* source, std::int32_t source_stride, void* target,
                       std::int32_t target_stride, translate_size size)
{
    const T* entries = static_cast<const T*>(table);
    const S* src = static_cast<const S*>(source);
    T* dst = static_cast<T*>(target);
    for (std::int32_t y = 0; y < size.h; ++y) {
        for (std::int32_t x = 0; x < size.w; ++x) {
            dst[x] = entries[src[x]];
        }
        src += source_stride;
        dst += target_stride;
    }
}

template <typename S, typename T>
void component_loop(const void* table, const pixel_format& in, const void* source, std::int32_t source_stride,
                    void* target, std::int32_t target_stride, translate_size size)
{
    const T* red = static_cast<const T*>(table);
    const T* green = red + in.red_max + 1;
    const T* blue = green + in.green_max + 1;
    const std::uint32_t red_max = in.red_max;
    const std::uint32_t green_max = in.green_max;
    const std::uint32_t blue_max = in.blue_max;
    const std::uint32_t red_shift = in.red_shift;
    const std::uint32_t green_shift = in.green_shift;
    const std::uint32_t blue_shift = in.blue_shift;
    const S* src = static_cast<const S*>(source);
    T* dst = static_cast<T*>(target);
    for (std::int32_t y = 0; y < size.h; ++y) {
        for (std::int32_t x = 0; x < size.w; ++x) {
            std::uint32_t p = src[x];
            dst[x] = static_cast<T>(red[(p >> red_shift) & red_max] | green[(p >> green_shift) & green_max] |
                                    blue[(p >> blue_shift) & blue_max]);
        }
        src += source_stride;
        dst += target_stride;
    }
}

template <typename S, typename T>
void cube_loop(const void* table, const pixel_format& in, const void* source, std::int32_t source_stride,
               void* target, std::int32_t target_stride, translate_size size)
{
    const T* red = static_cast<const T*>(table);
    const T* green = red + in.red_max + 1;
    const T* blue = green + in.green_max + 1;
    const T* cube_part = blue + in.blue_max + 1;
    const std::uint32_t red_max = in.red_max;
    const std::uint32_t green_max = in.green_max;
    const std::uint32_t blue_max = in.blue_max;
    const std::uint32_t red_shift = in.red_shift;
    const std::uint32_t green_shift = in.green_shift;
    const std::uint32_t blue_shift = in.blue_shift;
    const S* src = static_cast<const S*>(source);
    T* dst = static_cast<T*>(target);
    for (std::int32_t y = 0; y < size.h; ++y) {
        for (std::int32_t x = 0; x < size.w; ++x) {
            std::uint32_t p = src[x];
            dst[x] = cube_part[red[(p >> red_shift) & red_max] + green[(p >> green_shift) & green_max] +
                               blue[(p >> blue_shift) & blue_max]];
        }
        src += source_stride;
        dst += target_stride;
    }
}

std::uint16_t bgr32_to_rgb565(std::uint32_t v)
{
    return static_cast<std::uint16_t>(((v >> 8) & 0xf800) | ((v >> 5) & 0x07e0) | ((v >> 3) & 0x001f));
}

__attribute__((target("sse2"))) __m128i rgb565_lanes(__m128i v)
{
    __m128i r = _mm_and_si128(_mm_srli_epi32(v, 8), _mm_set1_epi32(0xf800));
    __m128i g = _mm_and_si128(_mm_srli_epi32(v, 5), _mm_set1_epi32(0x07e0));
    __m128i b = _mm_and_si128(_mm_srli_epi32(v, 3), _mm_set1_epi32(0x001f));
    // The saturating pack is signed; sign-extending the low halves first makes it exact.
    __m128i rgb = _mm_or_si128(_mm_or_si128(r, g), b);
    return _mm_srai_epi32(_mm_slli_epi32(rgb, 16), 16);
}

// One row: single pixels until the target is 16-byte aligned, then eight at a time, then the
// rest one by one. A target that is not even 2-byte aligned never reaches alignment and is
// converted pixel by pixel.
__attribute__((target("sse2"))) void rgb565_row_sse2(const std::uint32_t* src, std::uint16_t* dst, std::int32_t w)
{
    std::int32_t x = 0;
    while (x < w && (reinterpret_cast<std::uintptr_t>(dst + x) & 15) != 0) {
        dst[x] = bgr32_to_rgb565(src[x]);
        ++x;
    }
    for (; x + 8 <= w; x += 8) {
        __m128i low = rgb565_lanes(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + x)));
        __m128i high = rgb565_lanes(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + x + 4)));
        _mm_store_si128(reinterpret_cast<__m128i*>(dst + x), _mm_packs_epi32(low, high));
    }
    for (; x < w; ++x) {
        dst[x] = bgr32_to_rgb565(src[x]);
    }
}

void rgb565_row_plain(const std::uint32_t* src, std::uint16_t* dst, std::int32_t w)
{
    for (std::int32_t x = 0; x < w; ++x) {
        dst[x] = bgr32_to_rgb565(src[x]);
    }
}

// 64-bit processors always have SSE2; a 32-bit process may, in principle, run without it.
bool have_sse2()
{
    static const bool present = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("sse2") != 0;
    }();
    return present;
}

}  // namespace

#define KOVA_TRANSLATE_LOOP(name)                                                                          \
    void name(const void* table, [[maybe_unused]] const pixel_format& in, const void* source,                 \
              std::int32_t source_stride, const pixel_format&, void* target, std::int32_t target_stride, \
              translate_size size)

KOVA_TRANSLATE_LOOP(translate_rgbcube_16to8)
{
    cube_loop<std::uint16_t, std::uint8_t>(table, in, source, source_stride, target, target_stride, size);
}
KOVA_TRANSLATE_LOOP(translate_rgbcube_16to16)
{
    cube_loop<std::uint16_t, std::uint16_t>(table, in, source, source_stride, target, target_stride, size);
}
KOVA_TRANSLATE_LOOP(translate_rgbcube_16to32)
{
    cube_loop<std::uint16_t, std::uint32_t>(table, in, source, source_stride, target, target_stride, size);
}
KOVA_TRANSLATE_LOOP(translate_rgbcube_32to8)
{
    cube_loop<std::uint32_t, std::uint8_t>(table, in, source, source_stride, target, target_stride, size);
}
KOVA_TRANSLATE_LOOP(translate_rgbcube_32to16)
{
    cube_loop<std::uint32_t, std::uint16_t>(table, in, source, source_stride, target, target_stride, size);
}
KOVA_TRANSLATE_LOOP(translate_rgbcube_32to32)
{
    cube_loop<std::uint32_t, std::uint32_t>(table, in, source, source_stride, target, target_stride, size);
}

KOVA_TRANSLATE_LOOP(translate_table_8to8)
{
    single_table_loop<std::uint8_t, std::uint8_t>(table, source, source_stride, target, target_stride, size);
}
KOVA_TRANSLATE_LOOP(translate_table_8to16)
{
    single_table_loop<std::uint8_t, std::uint16_t>(table, source, source_stride, target, target_stride, size);
}
KOVA_TRANSLATE_LOOP(translate_table_8to32)
{
    single_table_loop<std::uint8_t, std::uint32_t>(table, source, source_stride, target, target_stride, size);
}
KOVA_TRANSLATE_LOOP(translate_table_16to8)
{
    single_table_loop<std::uint16_t, std::uint8_t>(table, source, source_stride, target, target_stride, size);
}
KOVA_TRANSLATE_LOOP(translate_table_16to16)
{
    single_table_loop<std::uint16_t, std::uint16_t>(table, source, source_stride, target, target_stride, size);
}
KOVA_TRANSLATE_LOOP(translate_table_16to32)
{
    single_table_loop<std::uint16_t, std::uint32_t>(table, source, source_stride, target, target_stride, size);
}

KOVA_TRANSLATE_LOOP(translate_rgb_16to8)
{
    component_loop<std::uint16_t, std::uint8_t>(table, in, source, source_stride, target, target_stride, size);
}
KOVA_TRANSLATE_LOOP(translate_rgb_16to16)
{
    component_loop<std::uint16_t, std::uint16_t>(table, in, source, source_stride, target, target_stride, size);
}
KOVA_TRANSLATE_LOOP(translate_rgb_16to32)
{
    component_loop<std::uint16_t, std::uint32_t>(table, in, source, source_stride, target, target_stride, size);
}
KOVA_TRANSLATE_LOOP(translate_rgb_32to8)
{
    component_loop<std::uint32_t, std::uint8_t>(table, in, source, source_stride, target, target_stride, size);
}
KOVA_TRANSLATE_LOOP(translate_rgb_32to16)
{
    component_loop<std::uint32_t, std::uint16_t>(table, in, source, source_stride, target, target_stride, size);
}
KOVA_TRANSLATE_LOOP(translate_rgb_32to32)
{
    component_loop<std::uint32_t, std::uint32_t>(table, in, source, source_stride, target, target_stride, size);
}

KOVA_TRANSLATE_LOOP(translate_copy)
{
    (void)table;
    const auto bytes = static_cast<std::size_t>(in.bpp / 8);
    const auto* src = static_cast<const unsigned char*>(source);
    auto* dst = static_cast<unsigned char*>(target);
    if (size.w <= 0) {
        return;
    }
    for (std::int32_t y = 0; y < size.h; ++y) {
        std::memcpy(dst, src, static_cast<std::size_t>(size.w) * bytes);
        src += static_cast<std::ptrdiff_t>(source_stride) * static_cast<std::ptrdiff_t>(bytes);
        dst += static_cast<std::ptrdiff_t>(target_stride) * static_cast<std::ptrdiff_t>(bytes);
    }
}

KOVA_TRANSLATE_LOOP(translate_bgr32_to_rgb565)
{
    (void)table;
    const auto* src = static_cast<const std::uint32_t*>(source);
    auto* dst = static_cast<std::uint16_t*>(target);
    const bool sse2 = have_sse2();
    for (std::int32_t y = 0; y < size.h; ++y) {
        if (sse2) {
            rgb565_row_sse2(src, dst, size.w);
        } else {
            rgb565_row_plain(src, dst, size.w);
        }
        src += source_stride;
        dst += target_stride;
    }
}

#undef KOVA_TRANSLATE_LOOP

}  // namespace kova
