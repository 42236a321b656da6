// The handshake messages of the desktop stream: ProtocolVersion, the security exchange and
// ServerInit.
#include <cstdio>
#include <string>

#include "kova/protocol/stream_in.h"
#include "kova/protocol/stream_out.h"
#include "kova/protocol/wire_proto.h"
#include "vantor/core/exception.h"

namespace kova::proto {
namespace {

constexpr std::size_t version_length = 12;

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

// Three decimal digits at text[at].
bool three_digits(const char* text, std::size_t at, std::int32_t& value)
{
    if (!is_digit(text[at]) || !is_digit(text[at + 1]) || !is_digit(text[at + 2])) {
        return false;
    }
    value = (text[at] - '0') * 100 + (text[at + 1] - '0') * 10 + (text[at + 2] - '0');
    return true;
}

}  // namespace

version_number read_version(stream_in& in)
{
    char text[version_length];
    in.ensure(version_length);
    in.read_bytes(text, version_length);
    version_number v;
    std::int32_t major = 0;
    std::int32_t minor = 0;
    if (text[0] == 'R' && text[1] == 'F' && text[2] == 'B' && text[3] == ' ' && text[7] == '.' &&
        text[11] == '\n' && three_digits(text, 4, major) && three_digits(text, 8, minor)) {
        v.major = major;
        v.minor = minor;
    }
    return v;
}

void write_version(stream_out& out, std::int32_t major, std::int32_t minor)
{
    // Only parts of at most three digits give the fixed 12-byte line.
    if (major < 0 || major > 999 || minor < 0 || minor > 999) {
        throw vantor::exception("internal error");
    }
    char text[version_length + 1];
    int n =
        std::snprintf(text, sizeof text, "RFB %03d.%03d\n", static_cast<int>(major), static_cast<int>(minor));
    if (n != static_cast<int>(version_length)) {
        throw vantor::exception("internal error");
    }
    out.write_bytes(text, version_length);
}

void write_security_types(stream_out& out, std::span<const std::uint8_t> types)
{
    out.write_u8(static_cast<std::uint8_t>(types.size()));
    for (std::uint8_t type : types) {
        out.write_u8(type);
    }
}

std::vector<std::uint8_t> read_security_types(stream_in& in)
{
    std::uint8_t count = in.read_u8();
    in.ensure(count);
    std::vector<std::uint8_t> types(count);
    in.read_bytes(types.data(), count);
    return types;
}

void write_security_result(stream_out& out, std::uint32_t result, std::string_view reason)
{
    out.write_u32(result);
    if (result != 0) {
        write_string(out, reason);
    }
}

security_result read_security_result(stream_in& in)
{
    security_result r;
    r.result = in.read_u32();
    if (r.result != 0) {
        r.reason = read_string(in);
    }
    return r;
}

void write_server_init(stream_out& out, const server_init_msg& init)
{
    out.write_u16(static_cast<std::uint16_t>(init.width));
    out.write_u16(static_cast<std::uint16_t>(init.height));
    write_pixel_format(out, init.format);
    write_string(out, init.name);
}

server_init_msg read_server_init(stream_in& in)
{
    server_init_msg init;
    init.width = in.read_u16();
    init.height = in.read_u16();
    init.format = read_pixel_format(in);
    init.name = read_string(in);
    return init;
}

}  // namespace kova::proto
