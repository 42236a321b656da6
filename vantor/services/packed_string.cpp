// The packed codec over a byte string. Same forms and limits as the netbuf form.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "vantor/core/exception.h"
#include "vantor/services/packed.h"
#include "vantor/services/packed_number.h"

namespace tarvojson {

namespace packed_detail {

void raise_parse_error()
{
    throw vantor::exception("error parsing packet");
}

void raise_too_big()
{
    throw vantor::exception("number too big to be stored in native variable");
}

}  // namespace packed_detail

namespace {

using namespace packed_detail;

template <typename T>
void write_number(std::string& p, T value)
{
    std::uint8_t bytes[max_number_bytes];
    std::size_t n = encode(value, bytes);
    p.append(reinterpret_cast<const char*>(bytes), n);
}

// Checks the whole number at the end of `p` before erasing it, so that a failure leaves the
// string as it was.
template <typename T>
T read_number(std::string& p)
{
    if (p.empty()) {
        raise_parse_error();
    }
    bool negative = false;
    std::size_t length = magnitude_length<T>(static_cast<std::uint8_t>(p.back()), negative);
    if (p.size() - 1 < length) {
        raise_parse_error();
    }
    check_length<T>(length);
    std::size_t count_at = p.size() - 1;
    // Gathered from the byte before the count byte backwards: most significant first.
    std::uint64_t magnitude = 0;
    for (std::size_t k = 1; k <= length; ++k) {
        magnitude = (magnitude << 8) | static_cast<std::uint8_t>(p[count_at - k]);
    }
    T value = to_value<T>(magnitude, negative);
    p.erase(count_at - length);
    return value;
}

}  // namespace

namespace strpacket {

void write_u32(std::string& p, std::uint32_t value)
{
    write_number(p, value);
}

void write_i32(std::string& p, std::int32_t value)
{
    write_number(p, value);
}

void write_u64(std::string& p, std::uint64_t value)
{
    write_number(p, value);
}

void write_bool(std::string& p, bool value)
{
    p.push_back(value ? 'T' : 'F');
}

void write_string(std::string& p, std::string_view value)
{
    p.append(value);
    write_number(p, static_cast<std::uint32_t>(value.size()));
}

void write_cstr(std::string& p, const char* value)
{
    write_string(p, value == nullptr ? std::string_view() : std::string_view(value));
}

std::uint32_t read_u32(std::string& p)
{
    return read_number<std::uint32_t>(p);
}

std::int32_t read_i32(std::string& p)
{
    return read_number<std::int32_t>(p);
}

std::uint64_t read_u64(std::string& p)
{
    return read_number<std::uint64_t>(p);
}

bool read_bool(std::string& p)
{
    if (p.empty() || (p.back() != 'T' && p.back() != 'F')) {
        raise_parse_error();
    }
    bool value = p.back() == 'T';
    p.pop_back();
    return value;
}

void read_string(std::string& p, std::string& out)
{
    std::uint32_t length = read_number<std::uint32_t>(p);
    if (p.size() < length) {
        raise_parse_error();
    }
    std::size_t at = p.size() - length;
    out.assign(p, at, length);
    p.erase(at);
}

}  // namespace strpacket

}  // namespace tarvojson
