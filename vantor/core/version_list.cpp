#include "vantor/core/version_list.h"

#include "vantor/core/hex_text.h"
#include "vantor/core/string_utils.h"
#include "vantor/core/stringstream.h"

namespace vantor {

version_range version_range::normalize(std::uint64_t x, std::uint64_t y) noexcept
{
    return x <= y ? version_range{x, y} : version_range{y, x};
}

std::uint64_t parse_number_or_hex(const std::string& text)
{
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        std::uint64_t value = 0;
        for (std::size_t i = 2; i < text.size(); ++i) {
            value = (value << 4) | static_cast<std::uint64_t>(hex_digit_value(text[i]));
        }
        return value;
    }
    vantor_stl::stringstream stream(text);
    long long value = 0;
    stream >> value;
    return static_cast<std::uint64_t>(value);
}

bool parse_version_ranges(vantor_stl::vector<version_range>& ranges, const std::string& text)
{
    std::size_t before = ranges.size();
    for (std::string entry : split_nonempty(text.empty() ? std::string("1") : text, ",")) {
        trim(entry);
        vantor_stl::vector<std::string> parts = split_nonempty(entry, "-");
        if (parts.size() == 1) {
            std::uint64_t v = parse_number_or_hex(parts[0]);
            ranges.push_back(version_range{v, v});
        } else if (parts.size() == 2) {
            ranges.push_back(version_range::normalize(parse_number_or_hex(parts[0]),
                                                      parse_number_or_hex(parts[1])));
        }
    }
    return ranges.size() > before;
}

bool version_list_matches(const std::string& a, const std::string& b)
{
    if (a == "*" || b == "*") {
        return true;
    }
    vantor_stl::vector<version_range> left;
    vantor_stl::vector<version_range> right;
    if (!parse_version_ranges(left, a) || !parse_version_ranges(right, b)) {
        return false;
    }
    for (const version_range& x : left) {
        for (const version_range& y : right) {
            if (x.min <= y.max && y.min <= x.max) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace vantor
