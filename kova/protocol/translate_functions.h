#pragma once
// The conversion machinery behind the pixel translator: table builders that compute the colour
// conversion once per pair of formats, and translation loops that convert blocks of pixels
// through such a table, one loop per combination of source and target bits per pixel.
//
// A translation table has entries of the target pixel's width (1, 2 or 4 bytes for 8, 16 or
// 32 bits per pixel) in one of three shapes:
//  - single table: 2^in.bpp entries, entry i is the target pixel of source value i;
//  - component tables: red (in.red_max + 1 entries), green and blue back to back; a target pixel
//    is the OR of the entries its source components select;
//  - cube component tables: three tables whose entries add up to a cube index, followed by a
//    copy of the cube's 216 entries cut to the target width.
// Source pixels wider than 8 bits are little-endian; for 16- and 32-bit true-colour targets
// in big-endian order the builders store the entries byte-swapped, so the loops never swap.
//
// Everything here is pure computation used on the translator owner's executor; built tables are
// only read afterwards.
#include <array>
#include <cstdint>
#include <memory>
#include <variant>

#include "kova/protocol/colour_cube.h"
#include "kova/protocol/pixel_format.h"

namespace kova {

// The table a translator owns; a builder replaces it. Storage from operator new[], which aligns
// it for 32-bit entries.
using translation_table = std::unique_ptr<unsigned char[]>;

// Width and height of a block of pixels.
struct translate_size {
    std::int32_t w = 0;
    std::int32_t h = 0;
};

// A translation loop: for each of size.h rows, target[x] := f(source[x]) for x from 0 to
// size.w - 1, then source and target advance by their strides, counted in pixels of their own
// width. Nothing is checked: the table must match the formats and the block must lie inside
// both buffers. `out` is not read.
using translate_loop = void (*)(const void* table, const pixel_format& in, const void* source,
                                std::int32_t source_stride, const pixel_format& out, void* target,
                                std::int32_t target_stride, translate_size size);

// Table builders. Each first refuses a source wider than 8 bits in big-endian order ("invalid
// endian format") and a format whose channels do not fit ("invalid pixel format"), leaving the
// old table untouched; then it releases the old table and stores the new one. When the
// allocation fails the table is left empty and std::bad_alloc propagates.
using table_builder = void (*)(translation_table& table, const pixel_format& in, const pixel_format& out);
using cube_table_builder = void (*)(translation_table& table, const pixel_format& in, const ColorCube& cube);
using map_table_builder = void (*)(translation_table& table, const pixel_format& in, const ColorMap& map,
                                   const pixel_format& out);
using map_cube_table_builder = void (*)(translation_table& table, const pixel_format& in, const ColorMap& map,
                                        const ColorCube& cube);

using translate_function =
    std::variant<translate_loop, table_builder, cube_table_builder, map_table_builder, map_cube_table_builder>;

// 12 groups of three; inside a group the members serve out.bpp 8, 16 and 32, so an entry is
// 3 x group + out.bpp / 16:
//   0 build component tables (true colour, 16 or 32 bits)     6 translate through a single table, 16 bits
//   1 build a single table (true colour, 8 or 16 bits)        7 translate through component tables, 16 bits
//   2 translate through cube component tables, 16 bits        8 translate through component tables, 32 bits
//   3 translate through cube component tables, 32 bits        9 build cube component tables (16 or 32 bits)
//   4 build a single table into the cube (8 or 16 bits)      10 build a single table from a colour map
//   5 translate through a single table, 8 bits               11 build a single table from a map into the cube
// For a source of d bits the single-table loop is 15 + 3 x (d / 16) + out.bpp / 16, the
// component-table loop 21 + 3 x (d / 32) + out.bpp / 16 and the cube-component loop
// 6 + 3 x (d / 32) + out.bpp / 16.
extern const std::array<translate_function, 36> translate_functions;

// Raises "invalid endian format" when `big_endian_source` is true.
void check_source_endian(bool big_endian_source);

// Fill source_max + 1 entries: entry i = ((source_max / 2 + i x target_max) / source_max) <<
// target_shift, cut to the entry's width and byte-swapped at that width when `swap` is set.
// Preconditions: source_max >= 1, target_shift < 32.
void scale_component_table8(std::uint8_t* table, std::uint32_t source_max, std::uint32_t target_max,
                            std::uint32_t target_shift);
void scale_component_table16(std::uint16_t* table, std::uint32_t source_max, std::uint32_t target_max,
                             std::uint32_t target_shift, bool swap);
void scale_component_table32(std::uint32_t* table, std::uint32_t source_max, std::uint32_t target_max,
                             std::uint32_t target_shift, bool swap);

// Fill source_max + 1 entries: entry i = stride x ((source_max / 2 + i x (levels - 1)) /
// source_max), the contribution of one colour to a cube index. Precondition: source_max >= 1.
void cube_component_table8(std::uint8_t* table, std::uint32_t source_max, std::uint32_t levels_minus_1,
                           std::uint32_t stride);
void cube_component_table16(std::uint16_t* table, std::uint32_t source_max, std::uint32_t levels_minus_1,
                            std::uint32_t stride);
void cube_component_table32(std::uint32_t* table, std::uint32_t source_max, std::uint32_t levels_minus_1,
                            std::uint32_t stride);

// Group 0: component tables, true colour to true colour.
void init_rgb_tables_to8(translation_table& table, const pixel_format& in, const pixel_format& out);
void init_rgb_tables_to16(translation_table& table, const pixel_format& in, const pixel_format& out);
void init_rgb_tables_to32(translation_table& table, const pixel_format& in, const pixel_format& out);
// Group 1: single table, true colour to true colour (sources of at most 16 bits).
void init_table_to8(translation_table& table, const pixel_format& in, const pixel_format& out);
void init_table_to16(translation_table& table, const pixel_format& in, const pixel_format& out);
void init_table_to32(translation_table& table, const pixel_format& in, const pixel_format& out);
// Group 4: single table, true colour into the cube (sources of at most 16 bits).
void init_table_cube_to8(translation_table& table, const pixel_format& in, const ColorCube& cube);
void init_table_cube_to16(translation_table& table, const pixel_format& in, const ColorCube& cube);
void init_table_cube_to32(translation_table& table, const pixel_format& in, const ColorCube& cube);
// Group 9: cube component tables.
void init_rgb_cube_tables_to8(translation_table& table, const pixel_format& in, const ColorCube& cube);
void init_rgb_cube_tables_to16(translation_table& table, const pixel_format& in, const ColorCube& cube);
void init_rgb_cube_tables_to32(translation_table& table, const pixel_format& in, const ColorCube& cube);
// Group 10: single table from the source's colour map (sources of at most 16 bits), true-colour
// target. Intensities above 65535 count as 65535.
void init_table_from_map_to8(translation_table& table, const pixel_format& in, const ColorMap& map,
                             const pixel_format& out);
void init_table_from_map_to16(translation_table& table, const pixel_format& in, const ColorMap& map,
                              const pixel_format& out);
void init_table_from_map_to32(translation_table& table, const pixel_format& in, const ColorMap& map,
                              const pixel_format& out);
// Group 11: single table from the source's colour map into the cube.
void init_table_from_map_cube_to8(translation_table& table, const pixel_format& in, const ColorMap& map,
                                  const ColorCube& cube);
void init_table_from_map_cube_to16(translation_table& table, const pixel_format& in, const ColorMap& map,
                                   const ColorCube& cube);
void init_table_from_map_cube_to32(translation_table& table, const pixel_format& in, const ColorMap& map,
                                   const ColorCube& cube);

// Groups 2 and 3: through cube component tables.
void translate_rgbcube_16to8(const void*, const pixel_format&, const void*, std::int32_t, const pixel_format&,
                             void*, std::int32_t, translate_size);
void translate_rgbcube_16to16(const void*, const pixel_format&, const void*, std::int32_t, const pixel_format&,
                              void*, std::int32_t, translate_size);
void translate_rgbcube_16to32(const void*, const pixel_format&, const void*, std::int32_t, const pixel_format&,
                              void*, std::int32_t, translate_size);
void translate_rgbcube_32to8(const void*, const pixel_format&, const void*, std::int32_t, const pixel_format&,
                             void*, std::int32_t, translate_size);
void translate_rgbcube_32to16(const void*, const pixel_format&, const void*, std::int32_t, const pixel_format&,
                              void*, std::int32_t, translate_size);
void translate_rgbcube_32to32(const void*, const pixel_format&, const void*, std::int32_t, const pixel_format&,
                              void*, std::int32_t, translate_size);
// Groups 5 and 6: through a single table.
void translate_table_8to8(const void*, const pixel_format&, const void*, std::int32_t, const pixel_format&, void*,
                          std::int32_t, translate_size);
void translate_table_8to16(const void*, const pixel_format&, const void*, std::int32_t, const pixel_format&,
                           void*, std::int32_t, translate_size);
void translate_table_8to32(const void*, const pixel_format&, const void*, std::int32_t, const pixel_format&,
                           void*, std::int32_t, translate_size);
void translate_table_16to8(const void*, const pixel_format&, const void*, std::int32_t, const pixel_format&,
                           void*, std::int32_t, translate_size);
void translate_table_16to16(const void*, const pixel_format&, const void*, std::int32_t, const pixel_format&,
                            void*, std::int32_t, translate_size);
void translate_table_16to32(const void*, const pixel_format&, const void*, std::int32_t, const pixel_format&,
                            void*, std::int32_t, translate_size);
// Groups 7 and 8: through component tables.
void translate_rgb_16to8(const void*, const pixel_format&, const void*, std::int32_t, const pixel_format&, void*,
                         std::int32_t, translate_size);
void translate_rgb_16to16(const void*, const pixel_format&, const void*, std::int32_t, const pixel_format&, void*,
                          std::int32_t, translate_size);
void translate_rgb_16to32(const void*, const pixel_format&, const void*, std::int32_t, const pixel_format&, void*,
                          std::int32_t, translate_size);
void translate_rgb_32to8(const void*, const pixel_format&, const void*, std::int32_t, const pixel_format&, void*,
                         std::int32_t, translate_size);
void translate_rgb_32to16(const void*, const pixel_format&, const void*, std::int32_t, const pixel_format&, void*,
                          std::int32_t, translate_size);
void translate_rgb_32to32(const void*, const pixel_format&, const void*, std::int32_t, const pixel_format&, void*,
                          std::int32_t, translate_size);

// The translator's own loops, outside the array: rows copied unchanged (equal formats, and
// colour-mapped to colour-mapped), and the SSE2 converter from 32-bit BGR (maxima 255 at shifts
// 16, 8, 0) to little-endian RGB565, which truncates each colour to its target bits.
void translate_copy(const void*, const pixel_format& in, const void*, std::int32_t, const pixel_format&, void*,
                    std::int32_t, translate_size);
void translate_bgr32_to_rgb565(const void*, const pixel_format&, const void*, std::int32_t, const pixel_format&,
                               void*, std::int32_t, translate_size);

}  // namespace kova
