#include "vantor/services/url_query.h"

#include "vantor/core/hex_text.h"

namespace vantor {

std::string url_encode(std::string_view text)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (c == ' ') {
            out += '+';
        } else if ((b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') || c == '_') {
            out += c;
        } else {
            out += '%';
            out += digits[b >> 4];
            out += digits[b & 15];
        }
    }
    return out;
}

std::string url_decode(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            out += ' ';
        } else if (c == '%') {
            if (text.size() - i < 3) break;
            out += static_cast<char>(hex_digit_value(text[i + 1]) * 16 + hex_digit_value(text[i + 2]));
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

std::string url_query_string(const std::map<std::string, std::string>& values)
{
    std::string out;
    for (const auto& [name, value] : values) {
        if (name.empty()) continue;
        if (!out.empty()) out += '&';
        out += url_encode(name);
        out += '=';
        out += url_encode(value);
    }
    return out;
}

std::map<std::string, std::string> parse_query_string(std::string_view text, char pair_separator,
                                                      char name_separator)
{
    std::map<std::string, std::string> out;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(pair_separator, start);
        const std::string_view piece = text.substr(start, end == std::string_view::npos ? text.npos : end - start);
        const std::size_t split = piece.find(name_separator);
        const std::string_view name = piece.substr(0, split);
        if (!name.empty()) {
            const std::string_view value = split == std::string_view::npos ? std::string_view{} : piece.substr(split + 1);
            out[url_decode(name)] = url_decode(value);
        }
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    return out;
}

std::vector<std::string> split_once(std::string_view text, std::string_view separator)
{
    const std::size_t at = separator.empty() ? std::string_view::npos : text.find(separator);
    if (at == std::string_view::npos) return {std::string(text)};
    return {std::string(text.substr(0, at)), std::string(text.substr(at + separator.size()))};
}

}  // namespace vantor
