// The messages that the encoder sends to the viewer and the viewer reads: the FramebufferUpdate
// header, SetColourMapEntries, and the two messages the viewer only skips.
#include "kova/protocol/stream_in.h"
#include "kova/protocol/stream_out.h"
#include "kova/protocol/wire_proto.h"
#include "vantor/core/exception.h"

namespace kova::proto {
namespace {

enum : std::uint8_t {
    msg_framebuffer_update = 0,
    msg_set_colour_map_entries = 1,
};

constexpr std::uint8_t flag_compact = 0x01;

// Reads the flags byte of a message that may use compact integers: they apply only when the
// sender set bit 0 and compact mode was agreed (the reader's flag on entry).
void read_compact_flags(stream_in& in)
{
    std::uint8_t flags = in.read_u8();
    in.set_compact(in.compact() && (flags & flag_compact) != 0);
}

}  // namespace

void write_update_header(stream_out& out, std::uint16_t count)
{
    out.write_u8(msg_framebuffer_update);
    out.write_u8(out.compact() ? flag_compact : 0);
    out.write_u16_compact(count);
}

std::uint16_t read_update_header(stream_in& in)
{
    read_compact_flags(in);
    return static_cast<std::uint16_t>(in.read_u16c() & 0xFFFF);
}

void write_colour_map(stream_out& out, const colour_map_entries& map)
{
    out.write_u8(msg_set_colour_map_entries);
    out.write_u8(out.compact() ? flag_compact : 0);
    out.write_u16_compact(map.first);
    out.write_u16_compact(static_cast<std::uint32_t>(map.colours.size()));
    for (const colour& c : map.colours) {
        out.write_u16_compact(c.red);
        out.write_u16_compact(c.green);
        out.write_u16_compact(c.blue);
    }
}

colour_map_entries read_colour_map(stream_in& in)
{
    read_compact_flags(in);
    colour_map_entries map;
    std::uint32_t first = in.read_u16c() & 0xFFFF;
    std::uint32_t count = in.read_u16c() & 0xFFFF;
    // The viewer copies the entries into its map from `first` on; a range past the map's end
    // would write outside it.
    if (first > colour_map_size || count > colour_map_size - first) {
        throw vantor::exception("invalid colour map");
    }
    map.first = static_cast<std::uint16_t>(first);
    map.colours.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        colour c;
        c.red = static_cast<std::uint16_t>(in.read_u16c());
        c.green = static_cast<std::uint16_t>(in.read_u16c());
        c.blue = static_cast<std::uint16_t>(in.read_u16c());
        map.colours.push_back(c);
    }
    return map;
}

void read_console_buffer(stream_in& in)
{
    in.skip(1);
    in.read_u16();
    in.read_u32();
    in.read_u32();
    in.read_u32();
}

void skip_drag_drop(stream_in& in)
{
    in.skip(2);
    // The one little-endian field of the protocol.
    in.ensure(2);
    std::uint8_t low = in.read_u8();
    std::uint8_t high = in.read_u8();
    std::uint32_t length = low | (std::uint32_t{high} << 8);
    // The length counts its own two bytes; a smaller one would turn the skip into a huge one.
    if (length < 2) {
        throw vantor::exception("invalid drag&drop length");
    }
    in.skip(length - 2);
}

}  // namespace kova::proto
