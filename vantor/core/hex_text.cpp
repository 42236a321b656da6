#include "vantor/core/hex_text.h"

namespace vantor {

int hex_digit_value(char c) noexcept
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return 0;
}

void append_hex_byte(std::string& text, unsigned char byte)
{
    static constexpr char digits[] = "0123456789abcdef";
    text.push_back(digits[byte >> 4]);
    text.push_back(digits[byte & 0x0F]);
}

std::string hex_encode(const void* data, std::size_t length)
{
    std::string text;
    text.reserve(length * 2);
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < length; ++i) {
        append_hex_byte(text, bytes[i]);
    }
    return text;
}

std::string hex_encode_string(const std::string& bytes) { return hex_encode(bytes.data(), bytes.size()); }

}  // namespace vantor
