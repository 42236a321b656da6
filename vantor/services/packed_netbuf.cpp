// The packed codec over a netbuf, and the counted collections built on it.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "vantor/core/netbuf.h"
#include "vantor/services/packed.h"
#include "vantor/services/packed_number.h"

namespace tarvojson::packet {

namespace {

using namespace packed_detail;

std::size_t remaining(const netbuf& p)
{
    return p.size();
}

template <typename T>
void write_number(netbuf& p, T value)
{
    std::uint8_t bytes[max_number_bytes];
    std::size_t n = encode(value, bytes);
    p.append_bytes(bytes, n);
}

template <typename T>
T read_number(netbuf& p)
{
    if (remaining(p) == 0) {
        raise_parse_error();
    }
    std::uint8_t count_byte = 0;
    p.pop_back_bytes(&count_byte, 1);
    bool negative = false;
    std::size_t length = magnitude_length<T>(count_byte, negative);
    if (remaining(p) < length) {
        raise_parse_error();
    }
    check_length<T>(length);
    std::uint8_t bytes[8] = {};
    p.pop_back_bytes(bytes, length);
    std::uint64_t magnitude = 0;
    for (std::size_t k = length; k > 0; --k) {
        magnitude = (magnitude << 8) | bytes[k - 1];
    }
    return to_value<T>(magnitude, negative);
}

// A length read from the packet, refused when it is negative or runs past the packet's start.
std::size_t checked_length(const netbuf& p, std::int64_t length)
{
    if (length < 0 || static_cast<std::uint64_t>(length) > remaining(p)) {
        raise_parse_error();
    }
    return static_cast<std::size_t>(length);
}

}  // namespace

void write_u8(netbuf& p, std::uint8_t value)
{
    write_number(p, value);
}

void write_u32(netbuf& p, std::uint32_t value)
{
    write_number(p, value);
}

void write_i32(netbuf& p, std::int32_t value)
{
    write_number(p, value);
}

void write_u64(netbuf& p, std::uint64_t value)
{
    write_number(p, value);
}

void write_i64(netbuf& p, std::int64_t value)
{
    write_number(p, value);
}

void write_bool(netbuf& p, bool value)
{
    std::uint8_t byte = value ? 'T' : 'F';
    p.append_bytes(&byte, 1);
}

void write_string(netbuf& p, std::string_view value)
{
    p.append_bytes(value.data(), value.size());
    write_number(p, static_cast<std::uint32_t>(value.size()));
}

void write_cstr(netbuf& p, const char* value)
{
    write_string(p, value == nullptr ? std::string_view() : std::string_view(value));
}

void write_netbuf(netbuf& p, const netbuf& block)
{
    // The block keeps its bytes, so its size can still be read after sharing them. A block
    // cannot be larger than the buffer table's 32-bit sizes allow.
    p.append_shared(block);
    write_number(p, static_cast<std::int32_t>(block.size()));
}

std::uint8_t read_u8(netbuf& p)
{
    return read_number<std::uint8_t>(p);
}

std::uint32_t read_u32(netbuf& p)
{
    return read_number<std::uint32_t>(p);
}

std::int32_t read_i32(netbuf& p)
{
    return read_number<std::int32_t>(p);
}

std::uint64_t read_u64(netbuf& p)
{
    return read_number<std::uint64_t>(p);
}

std::int64_t read_i64(netbuf& p)
{
    return read_number<std::int64_t>(p);
}

bool read_bool(netbuf& p)
{
    if (remaining(p) == 0) {
        raise_parse_error();
    }
    std::uint8_t byte = 0;
    p.pop_back_bytes(&byte, 1);
    if (byte != 'T' && byte != 'F') {
        raise_parse_error();
    }
    return byte == 'T';
}

void read_string(netbuf& p, std::string& out)
{
    std::size_t length = checked_length(p, read_number<std::uint32_t>(p));
    out.clear();
    p.copy_back_to_string(out, length);
    p.trim_back(length);
}

void read_netbuf(netbuf& p, netbuf& out)
{
    std::size_t length = checked_length(p, read_number<std::int32_t>(p));
    out = netbuf::construct_range(p, remaining(p) - length, length);
    p.trim_back(length);
}

void read_string_int_list(netbuf& p, vantor_stl::vector<std::pair<std::string, std::int32_t>>& out)
{
    std::uint32_t count = read_u32(p);
    out.clear();
    for (std::uint32_t k = 0; k < count; ++k) {
        std::string text;
        read_string(p, text);
        std::int32_t number = read_i32(p);
        out.emplace_back(std::move(text), number);
    }
}

void read_5int_record_list(netbuf& p, vantor_stl::vector<int_record>& out)
{
    std::uint32_t count = read_u32(p);
    out.clear();
    for (std::uint32_t k = 0; k < count; ++k) {
        int_record r;
        r.e = read_i32(p);
        r.d = read_i32(p);
        r.b = read_i32(p);
        r.c = read_i32(p);
        r.a = read_i32(p);
        out.push_back(r);
    }
}

void read_string_list(netbuf& p, vantor_stl::vector<std::string>& out)
{
    std::uint32_t count = read_u32(p);
    out.clear();
    for (std::uint32_t k = 0; k < count; ++k) {
        std::string text;
        read_string(p, text);
        out.push_back(text);
    }
}

void write_string_map(netbuf& p, const vantor_stl::map<std::string, std::string>& values)
{
    for (const auto& [key, value] : values) {
        write_string(p, key);
        write_string(p, value);
    }
    write_u32(p, static_cast<std::uint32_t>(values.size()));
}

}  // namespace tarvojson::packet
