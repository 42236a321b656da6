// The structures that several desktop stream messages share: strings, sizes, points,
// rectangles, rectangle headers and the pixel format.
#include <string>

#include "kova/protocol/stream_in.h"
#include "kova/protocol/stream_out.h"
#include "kova/protocol/wire_proto.h"
#include "vantor/core/exception.h"

namespace kova::proto {

void write_string(stream_out& out, std::string_view text)
{
    out.write_u32(static_cast<std::uint32_t>(text.size()));
    out.write_bytes(text.data(), text.size());
}

std::string read_string(stream_in& in)
{
    std::uint32_t length = in.read_u32();
    if (length > max_string_length) {
        throw vantor::exception("string too long");
    }
    in.ensure(length);
    std::string text(length, '\0');
    in.read_bytes(text.data(), length);
    return text;
}

void write_size(stream_out& out, const size& s)
{
    out.write_u16_compact(static_cast<std::uint32_t>(s.w));
    out.write_u16_compact(static_cast<std::uint32_t>(s.h));
}

size read_size(stream_in& in)
{
    size s;
    s.w = static_cast<std::int32_t>(in.read_u16c() & 0xFFFF);
    s.h = static_cast<std::int32_t>(in.read_u16c() & 0xFFFF);
    return s;
}

void write_point(stream_out& out, const vantor_abi::Point& p)
{
    out.write_u16_compact(static_cast<std::uint32_t>(p.x));
    out.write_u16_compact(static_cast<std::uint32_t>(p.y));
}

vantor_abi::Point read_point(stream_in& in)
{
    vantor_abi::Point p;
    p.x = static_cast<std::int32_t>(in.read_u16c());
    p.y = static_cast<std::int32_t>(in.read_u16c());
    return p;
}

void write_rect(stream_out& out, const vantor_abi::Rect& r)
{
    out.write_u16_compact(static_cast<std::uint32_t>(r.x));
    out.write_u16_compact(static_cast<std::uint32_t>(r.y));
    out.write_u16_compact(static_cast<std::uint32_t>(r.w));
    out.write_u16_compact(static_cast<std::uint32_t>(r.h));
}

vantor_abi::Rect read_rect(stream_in& in)
{
    vantor_abi::Rect r;
    r.x = static_cast<std::int32_t>(in.read_u16c());
    r.y = static_cast<std::int32_t>(in.read_u16c());
    r.w = static_cast<std::int32_t>(in.read_u16c() & 0xFFFF);
    r.h = static_cast<std::int32_t>(in.read_u16c() & 0xFFFF);
    return r;
}

void write_rect_header(stream_out& out, const vantor_abi::Rect& r, std::int32_t encoding)
{
    write_rect(out, r);
    out.write_compact_u32(static_cast<std::uint32_t>(encoding));
}

rect_header read_rect_header(stream_in& in)
{
    rect_header header;
    header.rect = read_rect(in);
    header.encoding = static_cast<std::int32_t>(in.readCompactU32());
    return header;
}

void write_pixel_format(stream_out& out, const pixel_format& format)
{
    out.write_u8(static_cast<std::uint8_t>(format.bpp));
    out.write_u8(static_cast<std::uint8_t>(format.depth));
    out.write_u8(format.big_endian != 0 ? 1 : 0);
    out.write_u8(format.true_colour != 0 ? 1 : 0);
    out.write_u16(static_cast<std::uint16_t>(format.red_max));
    out.write_u16(static_cast<std::uint16_t>(format.green_max));
    out.write_u16(static_cast<std::uint16_t>(format.blue_max));
    out.write_u8(static_cast<std::uint8_t>(format.red_shift));
    out.write_u8(static_cast<std::uint8_t>(format.green_shift));
    out.write_u8(static_cast<std::uint8_t>(format.blue_shift));
    out.pad(3);
}

pixel_format read_pixel_format(stream_in& in)
{
    std::uint8_t bpp = in.read_u8();
    std::uint8_t depth = in.read_u8();
    std::uint8_t big_endian = in.read_u8();
    std::uint8_t true_colour = in.read_u8();
    std::uint16_t red_max = in.read_u16();
    std::uint16_t green_max = in.read_u16();
    std::uint16_t blue_max = in.read_u16();
    std::uint8_t red_shift = in.read_u8();
    std::uint8_t green_shift = in.read_u8();
    std::uint8_t blue_shift = in.read_u8();
    in.skip(3);
    pixel_format format;
    format.set(bpp, depth, big_endian != 0, true_colour != 0, red_max, green_max, blue_max, red_shift,
               green_shift, blue_shift);
    return format;
}

}  // namespace kova::proto
