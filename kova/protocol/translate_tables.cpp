// The table builders of the translation machinery and the per-colour routines they fill their
// tables with.
#include <algorithm>
#include <cstring>

#include "kova/protocol/translate_functions.h"
#include "vantor/core/exception.h"

namespace kova {
namespace {

std::uint16_t swap16(std::uint16_t v) { return __builtin_bswap16(v); }
std::uint32_t swap32(std::uint32_t v) { return __builtin_bswap32(v); }

// Cuts a value to the entry's width and applies the target byte order.
template <typename T>
T to_entry(std::uint32_t value, bool swap)
{
    if constexpr (sizeof(T) == 1) {
        return static_cast<T>(value);
    } else if constexpr (sizeof(T) == 2) {
        auto v = static_cast<std::uint16_t>(value);
        return swap ? swap16(v) : v;
    } else {
        return swap ? swap32(value) : value;
    }
}

// The nearest level of the target range: (v x target_max + source_max / 2) / source_max. Wide
// arithmetic, so that large maxima cannot overflow.
std::uint32_t scale(std::uint32_t v, std::uint32_t source_max, std::uint32_t target_max)
{
    return static_cast<std::uint32_t>((std::uint64_t{source_max / 2} + std::uint64_t{v} * target_max) / source_max);
}

// A 16-bit intensity of a colour map scaled to a range of 0 to target_max. The colour maps of
// this system report 16-bit values; anything larger counts as full intensity so that it cannot
// reach into a neighbouring channel or past the cube.
std::uint32_t scale_intensity(std::uint32_t intensity, std::uint32_t target_max)
{
    std::uint64_t i = std::min<std::uint32_t>(intensity, 0xffff);
    return static_cast<std::uint32_t>((i * target_max + 0x7fff) / 0xffff);
}

// The channels a builder reads from `f`, whatever its colour flag says.
bool channels_usable(const pixel_format& f)
{
    pixel_format as_true_colour = f;
    as_true_colour.true_colour = 1;
    return as_true_colour.channels_fit();
}

// The checks every builder makes before it touches the table: the endian check first, then the
// channels it is going to read.
void check_formats(const pixel_format& in, bool reads_in_channels, const pixel_format* out)
{
    check_source_endian(in.bpp != 8 && in.big_endian != 0);
    if ((reads_in_channels && !channels_usable(in)) || (out != nullptr && !channels_usable(*out))) {
        throw vantor::exception("invalid pixel format");
    }
}

// Single tables are indexed by the whole source pixel, so they serve 8 and 16-bit sources only.
std::uint32_t single_table_entries(const pixel_format& in)
{
    if (in.bpp != 8 && in.bpp != 16) {
        throw vantor::exception("custom bpp not supported");
    }
    return std::uint32_t{1} << in.bpp;
}

template <typename T>
T* allocate(translation_table& table, std::size_t entries)
{
    table.reset();
    table = std::make_unique_for_overwrite<unsigned char[]>(entries * sizeof(T));
    return reinterpret_cast<T*>(table.get());
}

template <typename T>
void fill_component(T* table, std::uint32_t source_max, std::uint32_t target_max, std::uint32_t target_shift,
                    bool swap)
{
    for (std::uint32_t i = 0; i <= source_max; ++i) {
        table[i] = to_entry<T>(scale(i, source_max, target_max) << target_shift, swap);
    }
}

template <typename T>
void fill_cube_component(T* table, std::uint32_t source_max, std::uint32_t levels_minus_1, std::uint32_t stride)
{
    for (std::uint32_t i = 0; i <= source_max; ++i) {
        table[i] = static_cast<T>(stride * scale(i, source_max, levels_minus_1));
    }
}

std::uint32_t cube_index(const ColorCube& cube, std::uint32_t r, std::uint32_t g, std::uint32_t b)
{
    return (r * static_cast<std::uint32_t>(cube.green_levels()) + g) * static_cast<std::uint32_t>(cube.blue_levels()) +
           b;
}

std::uint32_t component(std::uint32_t pixel, std::uint32_t max, std::uint32_t shift) { return (pixel >> shift) & max; }

template <typename T>
void build_rgb_tables(translation_table& table, const pixel_format& in, const pixel_format& out)
{
    check_formats(in, true, &out);
    bool swap = out.big_endian != 0;
    T* red = allocate<T>(table, std::size_t{in.red_max} + in.green_max + in.blue_max + 3);
    T* green = red + in.red_max + 1;
    T* blue = green + in.green_max + 1;
    if constexpr (sizeof(T) == 1) {
        scale_component_table8(red, in.red_max, out.red_max, out.red_shift);
        scale_component_table8(green, in.green_max, out.green_max, out.green_shift);
        scale_component_table8(blue, in.blue_max, out.blue_max, out.blue_shift);
    } else if constexpr (sizeof(T) == 2) {
        scale_component_table16(red, in.red_max, out.red_max, out.red_shift, swap);
        scale_component_table16(green, in.green_max, out.green_max, out.green_shift, swap);
        scale_component_table16(blue, in.blue_max, out.blue_max, out.blue_shift, swap);
    } else {
        scale_component_table32(red, in.red_max, out.red_max, out.red_shift, swap);
        scale_component_table32(green, in.green_max, out.green_max, out.green_shift, swap);
        scale_component_table32(blue, in.blue_max, out.blue_max, out.blue_shift, swap);
    }
}

template <typename T>
void build_single_table(translation_table& table, const pixel_format& in, const pixel_format& out)
{
    check_formats(in, true, &out);
    std::uint32_t n = single_table_entries(in);
    T* entries = allocate<T>(table, n);
    for (std::uint32_t i = 0; i < n; ++i) {
        std::uint32_t v = (scale(component(i, in.red_max, in.red_shift), in.red_max, out.red_max) << out.red_shift) |
                          (scale(component(i, in.green_max, in.green_shift), in.green_max, out.green_max)
                           << out.green_shift) |
                          (scale(component(i, in.blue_max, in.blue_shift), in.blue_max, out.blue_max)
                           << out.blue_shift);
        entries[i] = to_entry<T>(v, out.big_endian != 0);
    }
}

template <typename T>
void build_table_cube(translation_table& table, const pixel_format& in, const ColorCube& cube)
{
    check_formats(in, true, nullptr);
    std::uint32_t n = single_table_entries(in);
    T* entries = allocate<T>(table, n);
    const std::uint32_t* cube_entries = cube.entries();
    auto r_top = static_cast<std::uint32_t>(cube.red_levels() - 1);
    auto g_top = static_cast<std::uint32_t>(cube.green_levels() - 1);
    auto b_top = static_cast<std::uint32_t>(cube.blue_levels() - 1);
    for (std::uint32_t i = 0; i < n; ++i) {
        std::uint32_t k = cube_index(cube, scale(component(i, in.red_max, in.red_shift), in.red_max, r_top),
                                     scale(component(i, in.green_max, in.green_shift), in.green_max, g_top),
                                     scale(component(i, in.blue_max, in.blue_shift), in.blue_max, b_top));
        entries[i] = static_cast<T>(cube_entries[k]);
    }
}

template <typename T>
void build_rgb_cube_tables(translation_table& table, const pixel_format& in, const ColorCube& cube)
{
    check_formats(in, true, nullptr);
    std::size_t components = std::size_t{in.red_max} + in.green_max + in.blue_max + 3;
    T* red = allocate<T>(table, components + colour_cube_size);
    T* green = red + in.red_max + 1;
    T* blue = green + in.green_max + 1;
    T* cube_part = blue + in.blue_max + 1;
    auto g_levels = static_cast<std::uint32_t>(cube.green_levels());
    auto b_levels = static_cast<std::uint32_t>(cube.blue_levels());
    auto r_top = static_cast<std::uint32_t>(cube.red_levels() - 1);
    if constexpr (sizeof(T) == 1) {
        cube_component_table8(red, in.red_max, r_top, b_levels * g_levels);
        cube_component_table8(green, in.green_max, g_levels - 1, b_levels);
        cube_component_table8(blue, in.blue_max, b_levels - 1, 1);
    } else if constexpr (sizeof(T) == 2) {
        cube_component_table16(red, in.red_max, r_top, b_levels * g_levels);
        cube_component_table16(green, in.green_max, g_levels - 1, b_levels);
        cube_component_table16(blue, in.blue_max, b_levels - 1, 1);
    } else {
        cube_component_table32(red, in.red_max, r_top, b_levels * g_levels);
        cube_component_table32(green, in.green_max, g_levels - 1, b_levels);
        cube_component_table32(blue, in.blue_max, b_levels - 1, 1);
    }
    for (std::uint32_t k = 0; k < colour_cube_size; ++k) {
        cube_part[k] = static_cast<T>(cube.entries()[k]);
    }
}

template <typename T>
void build_table_from_map(translation_table& table, const pixel_format& in, const ColorMap& map,
                          const pixel_format& out)
{
    check_formats(in, false, &out);
    std::uint32_t n = single_table_entries(in);
    T* entries = allocate<T>(table, n);
    for (std::uint32_t i = 0; i < n; ++i) {
        std::uint32_t r = 0;
        std::uint32_t g = 0;
        std::uint32_t b = 0;
        map.lookup(i, r, g, b);
        std::uint32_t v = (scale_intensity(r, out.red_max) << out.red_shift) |
                          (scale_intensity(g, out.green_max) << out.green_shift) |
                          (scale_intensity(b, out.blue_max) << out.blue_shift);
        entries[i] = to_entry<T>(v, out.big_endian != 0);
    }
}

template <typename T>
void build_table_from_map_cube(translation_table& table, const pixel_format& in, const ColorMap& map,
                               const ColorCube& cube)
{
    check_formats(in, false, nullptr);
    std::uint32_t n = single_table_entries(in);
    T* entries = allocate<T>(table, n);
    for (std::uint32_t i = 0; i < n; ++i) {
        std::uint32_t r = 0;
        std::uint32_t g = 0;
        std::uint32_t b = 0;
        map.lookup(i, r, g, b);
        std::uint32_t k =
            cube_index(cube, scale_intensity(r, static_cast<std::uint32_t>(cube.red_levels() - 1)),
                       scale_intensity(g, static_cast<std::uint32_t>(cube.green_levels() - 1)),
                       scale_intensity(b, static_cast<std::uint32_t>(cube.blue_levels() - 1)));
        entries[i] = static_cast<T>(cube.entries()[k]);
    }
}

}  // namespace

void check_source_endian(bool big_endian_source)
{
    if (big_endian_source) {
        throw vantor::exception("invalid endian format");
    }
}

void scale_component_table8(std::uint8_t* table, std::uint32_t source_max, std::uint32_t target_max,
                            std::uint32_t target_shift)
{
    fill_component(table, source_max, target_max, target_shift, false);
}

void scale_component_table16(std::uint16_t* table, std::uint32_t source_max, std::uint32_t target_max,
                             std::uint32_t target_shift, bool swap)
{
    fill_component(table, source_max, target_max, target_shift, swap);
}

void scale_component_table32(std::uint32_t* table, std::uint32_t source_max, std::uint32_t target_max,
                             std::uint32_t target_shift, bool swap)
{
    fill_component(table, source_max, target_max, target_shift, swap);
}

void cube_component_table8(std::uint8_t* table, std::uint32_t source_max, std::uint32_t levels_minus_1,
                           std::uint32_t stride)
{
    fill_cube_component(table, source_max, levels_minus_1, stride);
}

void cube_component_table16(std::uint16_t* table, std::uint32_t source_max, std::uint32_t levels_minus_1,
                            std::uint32_t stride)
{
    fill_cube_component(table, source_max, levels_minus_1, stride);
}

void cube_component_table32(std::uint32_t* table, std::uint32_t source_max, std::uint32_t levels_minus_1,
                            std::uint32_t stride)
{
    fill_cube_component(table, source_max, levels_minus_1, stride);
}

void init_rgb_tables_to8(translation_table& table, const pixel_format& in, const pixel_format& out)
{
    build_rgb_tables<std::uint8_t>(table, in, out);
}
void init_rgb_tables_to16(translation_table& table, const pixel_format& in, const pixel_format& out)
{
    build_rgb_tables<std::uint16_t>(table, in, out);
}
void init_rgb_tables_to32(translation_table& table, const pixel_format& in, const pixel_format& out)
{
    build_rgb_tables<std::uint32_t>(table, in, out);
}

void init_table_to8(translation_table& table, const pixel_format& in, const pixel_format& out)
{
    build_single_table<std::uint8_t>(table, in, out);
}
void init_table_to16(translation_table& table, const pixel_format& in, const pixel_format& out)
{
    build_single_table<std::uint16_t>(table, in, out);
}
void init_table_to32(translation_table& table, const pixel_format& in, const pixel_format& out)
{
    build_single_table<std::uint32_t>(table, in, out);
}

void init_table_cube_to8(translation_table& table, const pixel_format& in, const ColorCube& cube)
{
    build_table_cube<std::uint8_t>(table, in, cube);
}
void init_table_cube_to16(translation_table& table, const pixel_format& in, const ColorCube& cube)
{
    build_table_cube<std::uint16_t>(table, in, cube);
}
void init_table_cube_to32(translation_table& table, const pixel_format& in, const ColorCube& cube)
{
    build_table_cube<std::uint32_t>(table, in, cube);
}

void init_rgb_cube_tables_to8(translation_table& table, const pixel_format& in, const ColorCube& cube)
{
    build_rgb_cube_tables<std::uint8_t>(table, in, cube);
}
void init_rgb_cube_tables_to16(translation_table& table, const pixel_format& in, const ColorCube& cube)
{
    build_rgb_cube_tables<std::uint16_t>(table, in, cube);
}
void init_rgb_cube_tables_to32(translation_table& table, const pixel_format& in, const ColorCube& cube)
{
    build_rgb_cube_tables<std::uint32_t>(table, in, cube);
}

void init_table_from_map_to8(translation_table& table, const pixel_format& in, const ColorMap& map,
                             const pixel_format& out)
{
    build_table_from_map<std::uint8_t>(table, in, map, out);
}
void init_table_from_map_to16(translation_table& table, const pixel_format& in, const ColorMap& map,
                              const pixel_format& out)
{
    build_table_from_map<std::uint16_t>(table, in, map, out);
}
void init_table_from_map_to32(translation_table& table, const pixel_format& in, const ColorMap& map,
                              const pixel_format& out)
{
    build_table_from_map<std::uint32_t>(table, in, map, out);
}

void init_table_from_map_cube_to8(translation_table& table, const pixel_format& in, const ColorMap& map,
                                  const ColorCube& cube)
{
    build_table_from_map_cube<std::uint8_t>(table, in, map, cube);
}
void init_table_from_map_cube_to16(translation_table& table, const pixel_format& in, const ColorMap& map,
                                   const ColorCube& cube)
{
    build_table_from_map_cube<std::uint16_t>(table, in, map, cube);
}
void init_table_from_map_cube_to32(translation_table& table, const pixel_format& in, const ColorMap& map,
                                   const ColorCube& cube)
{
    build_table_from_map_cube<std::uint32_t>(table, in, map, cube);
}

}  // namespace kova
