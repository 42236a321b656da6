#pragma once
// Lower-case hexadecimal text of bytes, and the value of one hexadecimal digit.
#include <cstddef>
#include <string>

namespace vantor {

// '0'-'9' give 0-9, 'a'-'f' and 'A'-'F' give 10-15, any other character gives 0.
int hex_digit_value(char c) noexcept;

// Appends two characters of "0123456789abcdef", the high nibble first.
void append_hex_byte(std::string& text, unsigned char byte);

// Two characters per byte.
std::string hex_encode(const void* data, std::size_t length);
std::string hex_encode_string(const std::string& bytes);

}  // namespace vantor
