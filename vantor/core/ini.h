#pragma once
// INI text to a map of sections, keys and values. Lines before the first section header belong
// to the section with the empty name; there is no comment syntax and no escaping.
#include <string>
#include <string_view>

#include "vantor/core/map.h"
#include "vantor/core/vector.h"

namespace vantor {

using ini_section = vantor_stl::map<std::string, std::string>;
using ini_sections = vantor_stl::map<std::string, ini_section>;

// True for a line that, after blanks and tabs, begins with "[" and has a later "]"; `name` gets
// the text between them unchanged (text after the "]" is ignored).
bool ini_section_header(std::string_view line, std::string& name);

// The lines of each section, in input order, under the section's name.
vantor_stl::map<std::string, vantor_stl::vector<std::string>> ini_group_sections(
    const vantor_stl::vector<std::string>& lines);

enum class ini_pair_result {
    no_pair,    // no "=" in the line
    stored,     // the key was set (a later line with the same key overwrites)
    empty_key,  // the trimmed key is empty; nothing was stored
};

// Cuts a line at its first "=" and stores the trimmed key and value under `section` in `result`
// (the section is created when absent).
ini_pair_result ini_parse_pair(ini_sections& result, const std::string& section,
                               std::string_view line);

// Groups the lines into sections and collects their pairs. A pair line with an empty key is
// skipped and logged; every other pair is kept. A section without pairs is absent.
ini_sections parse_ini_lines(const vantor_stl::vector<std::string>& lines);

}  // namespace vantor
