#include "vantor/core/string_utils.h"

#include <cctype>
#include <cstring>

#include "vantor/core/stringstream.h"

namespace vantor {
namespace {

bool is_white(char c) { return c == '\t' || c == '\n' || c == '\r' || c == ' '; }

template <typename Add>
void cut(std::string_view text, std::string_view separators, Add add)
{
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (separators.find(text[i]) != std::string_view::npos) {
            add(text.substr(start, i - start));
            start = i + 1;
        }
    }
    add(text.substr(start));
}

vantor_stl::vector<std::string> nonempty_pieces(std::string_view text, std::string_view separators)
{
    vantor_stl::vector<std::string> pieces;
    cut(text, separators, [&](std::string_view piece) {
        if (!piece.empty()) {
            pieces.emplace_back(piece);
        }
    });
    return pieces;
}

}  // namespace

str_ref::str_ref(const char* text) noexcept
    : data(text), length(text != nullptr ? static_cast<std::uint32_t>(std::strlen(text)) : 0)
{
}

std::string join(std::string_view separator, const vantor_stl::vector<std::string>& parts)
{
    std::string out;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) {
            out += separator;
        }
        out += parts[i];
    }
    return out;
}

std::string join_strings(str_ref separator, const vantor_stl::vector<std::string>& parts)
{
    vantor_stl::stringstream s;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) {
            s.write(separator.data, separator.length);
        }
        s << parts[i];
    }
    return s.take_str();
}

vantor_stl::vector<std::string> split(std::string_view text, std::string_view separators)
{
    vantor_stl::vector<std::string> pieces;
    cut(text, separators, [&](std::string_view piece) { pieces.emplace_back(piece); });
    return pieces;
}

vantor_stl::vector<std::string> split_nonempty(std::string_view text, std::string_view separators)
{
    return nonempty_pieces(text, separators);
}

vantor_stl::vector<std::string> split_any(std::string_view separators, std::string_view text)
{
    return nonempty_pieces(text, separators);
}

void trim(std::string& text)
{
    std::size_t begin = 0;
    while (begin < text.size() && is_white(text[begin])) {
        ++begin;
    }
    std::size_t end = text.size();
    while (end > begin && is_white(text[end - 1])) {
        --end;
    }
    if (begin == 0 && end == text.size()) {
        return;
    }
    text = text.substr(begin, end - begin);
}

vantor_stl::vector<std::string> split_lines(std::string_view text)
{
    if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);
    }
    vantor_stl::vector<std::string> lines;
    std::size_t start = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        char c = text[i];
        if (c != '\r' && c != '\n') {
            ++i;
            continue;
        }
        lines.emplace_back(text.substr(start, i - start));
        i += (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
        start = i;
    }
    if (start < text.size()) {
        lines.emplace_back(text.substr(start));
    }
    return lines;
}

bool starts_with(std::string_view text, std::string_view prefix) noexcept
{
    return text.size() >= prefix.size() && text.substr(0, prefix.size()) == prefix;
}

bool ends_with(std::string_view text, std::string_view suffix) noexcept
{
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

bool ends_with_char(std::string_view text, char byte) noexcept
{
    return !text.empty() && text.back() == byte;
}

std::string to_lower_copy(std::string_view text)
{
    std::string out(text);
    for (char& c : out) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

std::string to_upper_copy(std::string_view text)
{
    std::string out(text);
    for (char& c : out) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return out;
}

std::string path_join(std::string_view a, std::string_view b)
{
    std::string out;
    out.reserve(a.size() + 1 + b.size());
    out += a;
    out += '\\';
    out += b;
    return out;
}

std::string string_map_get(const vantor_stl::map<std::string, std::string>& values,
                           const std::string& key)
{
    auto it = values.find(key);
    return it != values.end() ? it->second : std::string();
}

bool replace_all(std::string& text, std::string_view search, std::string_view replacement)
{
    // An empty search text would match at every position without advancing.
    if (search.empty()) {
        return false;
    }
    std::size_t at = text.find(search);
    if (at == std::string::npos) {
        return false;
    }
    std::string out;
    std::size_t from = 0;
    while (at != std::string::npos) {
        out.append(text, from, at - from);
        out += replacement;
        from = at + search.size();
        at = text.find(search, from);
    }
    out.append(text, from, std::string::npos);
    text = std::move(out);
    return true;
}

}  // namespace vantor
