#include "vantor/core/ini.h"

#include "vantor/core/log.h"
#include "vantor/core/string_utils.h"

namespace vantor {
namespace {

const log_context logger{"ini"};

}  // namespace

bool ini_section_header(std::string_view line, std::string& name)
{
    std::size_t open = line.find_first_not_of(" \t");
    if (open == std::string_view::npos || line[open] != '[') {
        return false;
    }
    std::size_t close = line.find(']', open + 1);
    if (close == std::string_view::npos) {
        return false;
    }
    name.assign(line.substr(open + 1, close - open - 1));
    return true;
}

vantor_stl::map<std::string, vantor_stl::vector<std::string>> ini_group_sections(
    const vantor_stl::vector<std::string>& lines)
{
    vantor_stl::map<std::string, vantor_stl::vector<std::string>> sections;
    std::string current;
    std::string name;
    for (const std::string& line : lines) {
        if (ini_section_header(line, name)) {
            current = name;
        } else {
            sections[current].push_back(line);
        }
    }
    return sections;
}

ini_pair_result ini_parse_pair(ini_sections& result, const std::string& section,
                               std::string_view line)
{
    std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
        return ini_pair_result::no_pair;
    }
    std::string key(line.substr(0, equals));
    trim(key);
    if (key.empty()) {
        return ini_pair_result::empty_key;
    }
    std::string value(line.substr(equals + 1));
    trim(value);
    result[section][key] = std::move(value);
    return ini_pair_result::stored;
}

ini_sections parse_ini_lines(const vantor_stl::vector<std::string>& lines)
{
    ini_sections result;
    unsigned skipped = 0;
    for (const auto& [section, section_lines] : ini_group_sections(lines)) {
        for (const std::string& line : section_lines) {
            if (ini_parse_pair(result, section, line) == ini_pair_result::empty_key) {
                ++skipped;
            }
        }
    }
    // One damaged line must not cost the whole file; the line's text is file data and is not
    // logged.
    if (skipped > 0) {
        logger.log(VANTOR_FMT("skipped %1% line(s) with an empty key"), skipped);
    }
    return result;
}

}  // namespace vantor
