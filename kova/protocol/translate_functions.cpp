// The table of builders and loops that the pixel translator indexes by arithmetic on the
// formats' bits per pixel; its order is therefore fixed.
#include "kova/protocol/translate_functions.h"

namespace kova {

constexpr std::array<translate_function, 36> translate_functions{{
    // 0: component tables, true colour to true colour
    table_builder{&init_rgb_tables_to8},
    table_builder{&init_rgb_tables_to16},
    table_builder{&init_rgb_tables_to32},
    // 1: single table, true colour to true colour
    table_builder{&init_table_to8},
    table_builder{&init_table_to16},
    table_builder{&init_table_to32},
    // 2: cube component tables, 16-bit source
    translate_loop{&translate_rgbcube_16to8},
    translate_loop{&translate_rgbcube_16to16},
    translate_loop{&translate_rgbcube_16to32},
    // 3: cube component tables, 32-bit source
    translate_loop{&translate_rgbcube_32to8},
    translate_loop{&translate_rgbcube_32to16},
    translate_loop{&translate_rgbcube_32to32},
    // 4: single table into the cube
    cube_table_builder{&init_table_cube_to8},
    cube_table_builder{&init_table_cube_to16},
    cube_table_builder{&init_table_cube_to32},
    // 5: single table, 8-bit source
    translate_loop{&translate_table_8to8},
    translate_loop{&translate_table_8to16},
    translate_loop{&translate_table_8to32},
    // 6: single table, 16-bit source
    translate_loop{&translate_table_16to8},
    translate_loop{&translate_table_16to16},
    translate_loop{&translate_table_16to32},
    // 7: component tables, 16-bit source
    translate_loop{&translate_rgb_16to8},
    translate_loop{&translate_rgb_16to16},
    translate_loop{&translate_rgb_16to32},
    // 8: component tables, 32-bit source
    translate_loop{&translate_rgb_32to8},
    translate_loop{&translate_rgb_32to16},
    translate_loop{&translate_rgb_32to32},
    // 9: cube component tables
    cube_table_builder{&init_rgb_cube_tables_to8},
    cube_table_builder{&init_rgb_cube_tables_to16},
    cube_table_builder{&init_rgb_cube_tables_to32},
    // 10: single table from a source colour map
    map_table_builder{&init_table_from_map_to8},
    map_table_builder{&init_table_from_map_to16},
    map_table_builder{&init_table_from_map_to32},
    // 11: single table from a source colour map into the cube
    map_cube_table_builder{&init_table_from_map_cube_to8},
    map_cube_table_builder{&init_table_from_map_cube_to16},
    map_cube_table_builder{&init_table_from_map_cube_to32},
}};

}  // namespace kova
